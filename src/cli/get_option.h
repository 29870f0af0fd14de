// A small option scanner in the classic style: letters grouped after one
// dash, "--" ends the options, the first word that is no option ends them
// too. Its state is process-wide; set `option_index` to 0 to scan anew.
#pragma once

extern const char* option_argument;  // argument of the option just returned
extern int option_index;             // next argument word to look at
extern const char* option_cursor;    // next letter inside a group such as -vf

// Returns the next option letter, '?' for an unknown letter or a missing
// argument, or -1 when the options have ended. Prints nothing.
int get_option(int argc, char* const argv[], const char* option_string);
