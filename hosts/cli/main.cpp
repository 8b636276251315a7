// quorvane5: denoises y4m video with the filter module, from files or pipes.
#include <string>
#include <vector>

#include "cli/command/denoise.h"

int main(int argc, char **argv) {
    return q5cli::runProgram(std::vector<std::string>(argv + 1, argv + argc));
}
