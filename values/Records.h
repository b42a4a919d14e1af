// Records shared by the whole interpreter: statement, value, variable and type definition.
#pragma once
#include <cstdint>
#include <cstddef>

// Type codes of values and variables.
enum TypeCode : uint8_t {
    T_STRING = 0, T_CHAR = 1, T_INT = 2, T_FLOAT = 3, T_ARRAY_0 = 4, T_MEMORY = 5,
    T_FILE = 6, T_SYSTEM_0 = 7, T_LABEL_0 = 8, T_WINDOW = 9, T_DIALOG = 10,
    T_BFILE = 11, T_ISTRING = 12, T_WORD = 13, T_DOUBLE = 14, T_USER_0 = 15,
    T_POINTER = 16, T_INT64 = 17, T_UINT64 = 18, T_UINT = 19,
    T_TYPE_COUNT = 20
};

// Wanted types of FetchArgument besides the type codes.
const int WANT_NUMBER = 20;
const int WANT_ANY = 21;
const int WANT_WINDOW_OR_DIALOG = 25;
// Result type of a statement that handed back no value.
const int NO_TYPE = 99;

// Argument kinds set by the line parser.
enum ArgKind { KIND_NUMBER = 0, KIND_STRING = 1, KIND_NAME = 2, KIND_EXPRESSION = 3, KIND_NONE = 4 };

const int MAX_ARGS = 25;
const int ARG_TEXT_SIZE = 256;      // bytes per argument buffer (255 characters and NUL)
const int VAR_NAME_SIZE = 32;       // name buffer; names are cut to 30 characters
const int VAR_NAME_MAX = 30;
const int LIBRARY_NAME_SIZE = 80;
const int PLAIN_STRING_SIZE = 255;  // plain STRING: 254 characters and NUL

// One parsed statement line.
struct StmtRec {
    uint16_t command;
    uint16_t argc;
    char* text;
    char* args[MAX_ARGS];
    int kinds[MAX_ARGS];
    int resultType;
    int fileOutput;
    char* block;
};

struct VarRec;

// One fetched argument in all its views.
struct ValueRec {
    int32_t i;
    float f;
    double d;
    VarRec* var;
    char* text;
    uint32_t handle;
    char* elem;
    int64_t i64;
    uint8_t ch;
    uint8_t type;
};

// A named thing of the program: variable, array, string, label, structure instance header.
struct VarRec {
    char name[VAR_NAME_SIZE];
    VarRec* prev;
    VarRec* next;
    VarRec* params;     // LABEL_0: declared parameters (scope header)
    VarRec* target;     // POINTER: record describing the pointed-to storage
    uint8_t type;
    int capacity;
    int elemLen;
    int packing;
    uint32_t count;
    char* data;
    char* base;
    int builtin;
    int frame;
    int external;
    int constant;
    int indexed;
    int borrowed;
    int cdeclFlag;
    char library[LIBRARY_NAME_SIZE];
    int dims[3];
};

// A user type defined by a type block.
struct TypeDef {
    char name[VAR_NAME_SIZE];
    uint32_t firstLine;
    uint32_t lastLine;
    int packing;
    TypeDef* prev;
    TypeDef* next;
};

// Run-time stack markers.
const uint32_t CALL_MARKER = 90000;
const uint32_t SELECT_MARKER = 90001;
const uint32_t DO_MARKER = 90002;
const uint32_t WHILE_MARKER = 90003;
