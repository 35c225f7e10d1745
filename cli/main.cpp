// glyphmend-cli's entry point; on Windows the arguments come as UTF-16, so
// that file names in any script reach the program whole.
#include "cli/cli.h"

#ifdef _WIN32
int wmain(int count, wchar_t** values)
#else
int main(int count, char** values)
#endif
{
    return run_cli(command_line_arguments(count, values));
}
