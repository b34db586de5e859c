#pragma once
// What a command line asks of a Morvane command: to run, to print its help
// or its version, or (a bad option) to print the error and exit with 2.

enum class CommandLineAction { Run, Help, Version, UsageError };
