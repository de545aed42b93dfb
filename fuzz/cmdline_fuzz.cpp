// Any command line: the bytes split at zero bytes into parameters.
#include <string>
#include <vector>

#include "core/cmdline.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back() += static_cast<char>(data[i]);
    }
    const vir05::CommandLine cl = vir05::ParseCommandLine(args);
    (void)cl.PortName();
    (void)cl.NetAddress();
    return cl.Command() == 1 || cl.Command() == 3 || cl.Command() == 5 ? 0 : 1;
}
