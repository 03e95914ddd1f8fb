// The console host's commands are built into kdx-host only; the tests compile them in here.
#include "../../host/decode_command.cpp"
#include "../../host/sample_command.cpp"
