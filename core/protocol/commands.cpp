#include "core/protocol/commands.h"

namespace vir05 {

std::string BadHeaderText(std::uint8_t first) {
    return "Неверный заголовок ответа: " + std::to_string(first) + " вместо 170";
}

std::string LengthText(std::size_t got, std::size_t expected) {
    return "Пришло " + std::to_string(got) + " байт вместо " + std::to_string(expected);
}

std::string FailureCodeText(int status) {
    return "Команда не выполнена, код " + std::to_string(status);
}

}  // namespace vir05
