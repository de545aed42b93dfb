#include "model/vocab.h"

namespace vir05 {

std::string SourceName(int code, int scheme) {
    const std::string first = scheme >= 4 ? "T3" : "T11";
    switch (code) {
        case -1:
            return "нет";
        case 0:
            return first;
        case 1:
            return "T2";
        case 2:
            return "Tк";
        case 3:
            return "Tн";
        case 4:
            return "T21";
        case 5:
            return "(" + first + "+T2)/2";
        case 6:
            return "(" + first + "+T21)/2";
        case 7:
            return "G1";
        case 8:
        case 9:
        case 10:
            return "P" + std::to_string(code - 7);
        case 11:
            return "График";
        case 12:
            return "Выключен";
        case 13:
            return "Включен";
        case 14:
            return "dTцрк";
        default:
            return {};
    }
}

std::array<std::string, kSourceCount> SourceList(int scheme) {
    std::array<std::string, kSourceCount> list;
    for (int code = kSourceMin; code <= kSourceMax; ++code)
        list[code - kSourceMin] = SourceName(code, scheme);
    return list;
}

const std::array<std::string_view, kErrorBits> kErrorTexts = {
    "Ошибка Т1",
    "Ошибка Т2",
    "Ошибка Т3",
    "Ошибка Т4",
    "Ошибка Т5",
    "Нет воды, насос1(2)",
    "Нет воды, насос3(4)",
    "Насос1 не дает давление",
    "Насос2 не дает давление",
    "Насос3 не дает давление",
    "Насос4 не дает давление",
    "Аварийное открывание клапана",
    "Принудительное закрывание клапана",
    "Разорван сигнальный контакт",
};

std::vector<std::string_view> ErrorTexts(std::uint16_t errors) {
    std::vector<std::string_view> texts;
    for (int bit = 0; bit < kErrorBits; ++bit)
        if (errors & (1u << bit)) texts.push_back(kErrorTexts[bit]);
    return texts;
}

// Latin and Cyrillic letters stand exactly as the controller stores them.
const std::array<std::string_view, kEventNameCount> kEventNameTable = {
    "Включен",         // 0
    "Nконтур",         // 1
    "Nконтур",         // 2
    "Nконтур",         // 3
    "Реж.авт",         // 4
    "Руч.упрNконтур",  // 5
    "Общ.нас",         // 6
    "ARCH   ",         // 7
    "Nконтур",         // 8
    "Nконтур",         // 9
    "Nконтур",         // 10
    "Nконтур",         // 11
    "Nконтур",         // 12
    "Nконтур",         // 13
    "Nконтур",         // 14
    "Nконтур",         // 15
    "Nконтур",         // 16
    "Nконтур",         // 17
    "Nконтур",         // 18
    "Nконтур",         // 19
    "Nконтур",         // 20
    "L_CTRL ",         // 21
    "L_POMP1",         // 22
    "L_POMP2",         // 23
    "L_POMP3",         // 24
    "L_POMP4",         // 25
    "Битрейт",         // 26
    "Сет.адр",         // 27
    "SERIAL ",         // 28
    "DE_TIME",         // 29
    "PIN код",         // 30
    "PIN_OFF",         // 31
    "SECURTY",         // 32
    "NUM GSM",         // 33
    "RATE_KZ",         // 34
    "IBRATE0",         // 35
    "Уст.ТСП",         // 36
    "Ус.сист",         // 37
    "Црк.нас",         // 38
    "Пит.нас",         // 39
    "Пар.рег",         // 40
    "Пар.уст",         // 41
    "Тпом.  ",         // 42
    "Тсо    ",         // 43
    "То     ",         // 44
    "Tлин   ",         // 45
    "Тнаруж ",         // 46
    "ТConst ",         // 47
    "Вк.граф",         // 48
    "График ",         // 49
    "Ход кл.",         // 50
    "Огр.кл.",         // 51
    "АвтоПИД",         // 52
    "СлежПИД",         // 53
    "Кр     ",         // 54
    "Ки     ",         // 55
    "Кд     ",         // 56
    "2-й пар",         // 57
    "ТConst2",         // 58
    "Кр2    ",         // 59
    "Ки2    ",         // 60
    "Кд2    ",         // 61
    "Тип ДР ",         // 62
    "Fmax   ",         // 63
    "Gmax   ",         // 64
    "Кv     ",         // 65
    "Огр.То ",         // 66
    "То мах ",         // 67
    "Т1-T3  ",         // 68
    "Tмороз ",         // 69
    "Авр.пар",         // 70
    "Авр.знч",         // 71
    "Зкр.пар",         // 72
    "Зкр.знч",         // 73
    "Зона нч",         // 74
    "Мин имп",         // 75
    "Н1 пар ",         // 76
    "Н1on зн",         // 77
    "Н1offЗн",         // 78
    "H1Вк.Гр",         // 79
    "Н1 граф",         // 80
    "Ррезерв",         // 81
    "Рресурс",         // 82
    "Вр.ресу",         // 83
    "Н3 пар ",         // 84
    "Н3on зн",         // 85
    "Н3offЗн",         // 86
    "H3Вк.Гр",         // 87
    "GRAPHN3",         // 88
    "Н время",         // 89
    "Р заил.",         // 90
    "ЗаилПер",         // 91
    "Прокрут",         // 92
    "Н1 в ош",         // 93
    "Н1 tout",         // 94
    "Синхр12",         // 95
    "ТConst ",         // 96
    "TIMEWOR",         // 97
    "Пер.арх",         // 98
    "MD_ARCH",         // 99
};

std::string EventName(std::uint8_t code) {
    if (code == 255) return "Выключение";
    const int index = code & 0x7F;
    std::string name =
        index < kEventNameCount ? std::string(kEventNameTable[index]) : std::string();
    if (code & 0x80) name += " к2";
    return name;
}

}  // namespace vir05
