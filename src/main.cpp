// tallyfix: writes an Intel HEX or S-record file to standard output with the
// checksum of every data record recomputed and every other byte as it came
// in; or checks files, or fixes them in place.
#include <string>
#include <vector>

#include "check_and_fix.hpp"
#include "command_line.hpp"
#include "plain_run.hpp"
#include "platform.hpp"

int main(int argc, char **argv)
{
	const std::vector<std::string> arguments = utf8_arguments(argc, argv);
	set_binary_mode(stdout);
	const run_request run = read_command_line(arguments);
	switch (run.mode) {
	case run_mode::usage_error:
		return failed;
	case run_mode::help:
		return write_help();
	case run_mode::version:
		return write_version();
	case run_mode::check:
	case run_mode::in_place:
	case run_mode::edit:
		return check_or_fix_files(run);
	case run_mode::plain:
		break;
	}
	return plain_run(run);
}
