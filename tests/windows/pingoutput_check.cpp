// The ping output parser over the recorded outputs, built natively.
#include "pingcases.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: pingoutput_check DIR\n");
        return 64;
    }
    return PingCases::checkDirectory(argv[1]);
}
