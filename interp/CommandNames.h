#pragma once

// Handler names of the command table, indexed by command number.

// number of command table slots
const int CommandSlots = 250;

// Handler name of command n ("CmdPrint"), or nullptr for an empty slot or n out of range.
const char* CommandHandlerName(int n);

// Command number whose handler is `name` (with or without the "Cmd" prefix, case-insensitive);
// the lower number where two share a handler; -1 if none.
int CommandNumberByName(const char* name);
