// The executable: everything lives in the game library.
#include "board/Startup.h"

int main(int, char* argv[]) {
    return kelvora::runProgram(argv[0]);
}
