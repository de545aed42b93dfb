// The program's start: the command line first, then a hidden run or the window.
#pragma once

namespace vir05 {

int RunProgram(int argc, char** argv);

}  // namespace vir05
