// Stands for the program in the updater's tests.
//   updater_program_standin            appends "started" to $ZUCAM_STANDIN_MARK
//   updater_program_standin sleep <ms> runs for that long
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "sleep") == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(argv[2])));
        return 0;
    }
    const char* mark = std::getenv("ZUCAM_STANDIN_MARK");
    if (argc != 1 || mark == nullptr) return 2;
    std::FILE* file = std::fopen(mark, "a");
    if (file == nullptr) return 3;
    std::fputs("started\n", file);
    std::fclose(file);
    return 0;
}
