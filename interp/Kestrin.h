// The interpreter: the whole run-time state of one program and every command handler.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>
#include "values/Records.h"
#include "values/Slots.h"

class CKestrinWnd;
namespace kexpr { class Evaluator; }

class Kestrin;
typedef StmtRec* (Kestrin::*CommandHandler)(StmtRec* s);

const int COMMAND_SLOTS = 250;
const int CONSTANT_COUNT = 498;
const int OUTPUT_BUFFER_SIZE = 65535;
const int STACK_SLOTS = 4096;
const int RESULT_STRING_SIZE = 65535;   // SYSTEM_STRING0 holds 65535 characters and NUL
const int CONST_EVENT_WINDOW = 72;
const int CONST_IO_STATUS = 70;
const int MAX_NESTING = 5000;   // nested statement loops and evaluations before error 34
const uint8_t BUDGET_ERROR = 250;   // the statement budget ran out (never set by the language)

class Kestrin {
public:
    Kestrin();
    virtual ~Kestrin();

    int Init();
    int Run();
    virtual void ReportError();
    virtual void OnRunStart();
    void Cleanup();

    StmtRec* NewStatementRecord(int n);
    void FreeStatementRecord(StmtRec* s);
    int PushStack(uint32_t value);
    uint32_t PopStack();

    // Line table (startup/LineTable.cpp)
    int CountLines();

    // Label pre-pass (interp/Labels.cpp)
    int RegisterLabels();

    // Text of the error box for the current error code and line.
    std::string ErrorText();

    // Line parser (interp/ParseLine.cpp)
    int ParseLine(StmtRec* s, char* line);

    // Runs the handler of the statement's command; a number without a handler is error 1.
    StmtRec* Execute(StmtRec* s);

    // Parses and runs the lines from the current line on, as the run loop and a
    // subroutine body do; stops on a null handler result, an error, the end of the
    // program, or (stopAtReturn) after a return statement. Returns 1 when a return stopped it.
    int RunLines(StmtRec* s, bool stopAtReturn);

    // Stores an address in a 32-bit slot; error 2 when it does not fit.
    bool SlotOf(const void* p, uint32_t* slot);

    // Variables (values/Variables.cpp)
    VarRec* CreateVariable(char* name, int type, uint32_t count, VarRec* chain);
    VarRec* LookupVariable(char* name, VarRec* chain, bool allowCall);
    void FreeChain(VarRec* first, bool stopAtFrame);
    VarRec* CurrentScope() const { return decimalPrecRec.next; }
    void SetCurrentScope(VarRec* first);
    VarRec* MainChain();                  // the main program's chain, inside or outside calls
    VarRec* ResultVariableFor(int resultType);
    static int ElementSize(int type);
    static const char* TypeName(int type);
    static const char* TypeFormat(int type);
    static int TypeCodeByName(const char* name);   // -1 when no built-in type has the name

    // Argument fetch (values/Fetch.cpp)
    ValueRec* FetchArgument(ValueRec* v, StmtRec* s, int index, int wanted);

    // Structures (values/Declarations.cpp)
    int StructSize(VarRec* header);
    char* StructFlatten(char* dest, VarRec* header);
    char* StructRestore(char* src, VarRec* header);
    void StructWrite(FILE* fp, VarRec* header);
    void StructRead(FILE* fp, VarRec* header);
    int CopyStruct(VarRec* dest, VarRec* src);
    TypeDef* FindType(const char* name);

    // Expressions (expr/Evaluate.cpp)
    double Evaluate(const char* text);

    // Command handlers, by the source that holds them.
    StmtRec* CmdNoOp(StmtRec* s);

    // interp/Labels.cpp
    StmtRec* CmdLabel(StmtRec* s);

    // interp/Subroutines.cpp
    StmtRec* CmdCallSub(StmtRec* s);
    StmtRec* CmdDeclare(StmtRec* s);
    StmtRec* CmdEnd(StmtRec* s);
    StmtRec* CmdGoto(StmtRec* s);
    StmtRec* CmdReturn(StmtRec* s);

    // interp/LibraryCalls.cpp
    StmtRec* DeclareExternal(StmtRec* s);   // library form of CmdDeclare (two or three arguments)
    StmtRec* CmdCallExternal(StmtRec* s);
    StmtRec* CmdFreeLibrary(StmtRec* s);

    // interp/Printing.cpp
    StmtRec* CmdFileDialog(StmtRec* s);
    StmtRec* CmdGetKey(StmtRec* s);
    StmtRec* CmdInput(StmtRec* s);
    StmtRec* CmdPrint(StmtRec* s);

    // values/Assign.cpp
    StmtRec* CmdAssign(StmtRec* s);

    // values/Declarations.cpp
    StmtRec* CmdConst(StmtRec* s);
    StmtRec* CmdDefine(StmtRec* s);
    StmtRec* CmdNew(StmtRec* s);
    StmtRec* CmdType(StmtRec* s);

    // expr/Evaluate.cpp
    StmtRec* CmdSetConstant(StmtRec* s);

    // expr/NumberFormat.cpp
    StmtRec* CmdFormatPicture(StmtRec* s);
    StmtRec* CmdNumberToText(StmtRec* s);
    StmtRec* CmdSetDecimalPrec(StmtRec* s);
    StmtRec* CmdTextToNumber(StmtRec* s);
    StmtRec* CmdToHex(StmtRec* s);

    // builtins/ControlFlow.cpp
    StmtRec* CmdCase(StmtRec* s);
    StmtRec* CmdDefault(StmtRec* s);
    StmtRec* CmdDo(StmtRec* s);
    StmtRec* CmdElse(StmtRec* s);
    StmtRec* CmdEndSelect(StmtRec* s);
    StmtRec* CmdEndWhile(StmtRec* s);
    StmtRec* CmdFor(StmtRec* s);
    StmtRec* CmdIf(StmtRec* s);
    StmtRec* CmdNext(StmtRec* s);
    StmtRec* CmdSelect(StmtRec* s);
    StmtRec* CmdUntil(StmtRec* s);
    StmtRec* CmdWaitUntil(StmtRec* s);
    StmtRec* CmdWhile(StmtRec* s);

    // builtins/Console.cpp
    StmtRec* CmdClearConsole(StmtRec* s);
    StmtRec* CmdCloseConsole(StmtRec* s);
    StmtRec* CmdConsoleColor(StmtRec* s);
    StmtRec* CmdLocate(StmtRec* s);
    StmtRec* CmdOpenConsole(StmtRec* s);

    // builtins/Strings.cpp
    StmtRec* CmdCharCode(StmtRec* s);
    StmtRec* CmdCharFromCode(StmtRec* s);
    StmtRec* CmdConcat(StmtRec* s);
    StmtRec* CmdFindText(StmtRec* s);
    StmtRec* CmdLeftPart(StmtRec* s);
    StmtRec* CmdOverwriteText(StmtRec* s);
    StmtRec* CmdRepeat(StmtRec* s);
    StmtRec* CmdRightPart(StmtRec* s);
    StmtRec* CmdSizeOf(StmtRec* s);
    StmtRec* CmdSpaces(StmtRec* s);
    StmtRec* CmdSubstring(StmtRec* s);
    StmtRec* CmdToLower(StmtRec* s);
    StmtRec* CmdToUpper(StmtRec* s);
    StmtRec* CmdTrimLeft(StmtRec* s);
    StmtRec* CmdTrimRight(StmtRec* s);

    // builtins/Files.cpp
    StmtRec* CmdAtEndOfFile(StmtRec* s);
    StmtRec* CmdCloseFile(StmtRec* s);
    StmtRec* CmdFilePosition(StmtRec* s);
    StmtRec* CmdGetRecord(StmtRec* s);
    StmtRec* CmdOpenFile(StmtRec* s);
    StmtRec* CmdPutRecord(StmtRec* s);
    StmtRec* CmdReadFile(StmtRec* s);
    StmtRec* CmdWriteFile(StmtRec* s);

    // builtins/FileSystem.cpp
    StmtRec* CmdCopyFile(StmtRec* s);
    StmtRec* CmdCreateDirectory(StmtRec* s);
    StmtRec* CmdDeleteFile(StmtRec* s);
    StmtRec* CmdFindClose(StmtRec* s);
    StmtRec* CmdFindNext(StmtRec* s);
    StmtRec* CmdFindOpen(StmtRec* s);
    StmtRec* CmdRemoveDirectory(StmtRec* s);

    // builtins/Math.cpp
    StmtRec* CmdAbs(StmtRec* s);
    StmtRec* CmdArcCos(StmtRec* s);
    StmtRec* CmdArcSin(StmtRec* s);
    StmtRec* CmdArcTan(StmtRec* s);
    StmtRec* CmdBitNot(StmtRec* s);
    StmtRec* CmdCeiling(StmtRec* s);
    StmtRec* CmdCos(StmtRec* s);
    StmtRec* CmdCosh(StmtRec* s);
    StmtRec* CmdExp(StmtRec* s);
    StmtRec* CmdFloor(StmtRec* s);
    StmtRec* CmdLog(StmtRec* s);
    StmtRec* CmdLog10(StmtRec* s);
    StmtRec* CmdRandom(StmtRec* s);
    StmtRec* CmdSign(StmtRec* s);
    StmtRec* CmdSin(StmtRec* s);
    StmtRec* CmdSinh(StmtRec* s);
    StmtRec* CmdSqrt(StmtRec* s);
    StmtRec* CmdTan(StmtRec* s);
    StmtRec* CmdTanh(StmtRec* s);
    StmtRec* CmdTruncate(StmtRec* s);

    // builtins/Memory.cpp
    StmtRec* CmdAllocMem(StmtRec* s);
    StmtRec* CmdDelete(StmtRec* s);
    StmtRec* CmdDeleteVariable(StmtRec* s);
    StmtRec* CmdFreeMem(StmtRec* s);
    StmtRec* CmdIsArray(StmtRec* s);
    StmtRec* CmdLoadResource(StmtRec* s);
    StmtRec* CmdPointerType(StmtRec* s);
    StmtRec* CmdReadMem(StmtRec* s);
    StmtRec* CmdWriteMem(StmtRec* s);

    // builtins/System.cpp
    StmtRec* CmdAlwaysZero(StmtRec* s);
    StmtRec* CmdAutoDeclare(StmtRec* s);
    StmtRec* CmdDateText(StmtRec* s);
    StmtRec* CmdKeyState(StmtRec* s);
    StmtRec* CmdMessageBox(StmtRec* s);
    StmtRec* CmdPlaySound(StmtRec* s);
    StmtRec* CmdProgramDirectory(StmtRec* s);
    StmtRec* CmdSecondsToday(StmtRec* s);
    StmtRec* CmdShellOpen(StmtRec* s);
    StmtRec* CmdTimeText(StmtRec* s);

    // builtins/RawPrinter.cpp
    StmtRec* CmdClosePrinter(StmtRec* s);
    StmtRec* CmdDefaultPrinter(StmtRec* s);
    StmtRec* CmdNewPrinterPage(StmtRec* s);
    StmtRec* CmdOpenPrinter(StmtRec* s);
    StmtRec* CmdPrintDialog(StmtRec* s);
    StmtRec* CmdPrinterWrite(StmtRec* s);

    // ---- files and directory search (builtins/Files.cpp, builtins/FileSystem.cpp) ----
private:
    // Finders handed to the program as numbers; only these are accepted back.
    struct FinderTable {
        std::vector<class CFileFinder*> live;
        FinderTable() = default;
        FinderTable(const FinderTable&) = delete;
        FinderTable& operator=(const FinderTable&) = delete;
        ~FinderTable();                       // deletes the finders still open
    };
    FinderTable finders;
    // Last transfer direction ('r' / 'w') per stream, so that a read after a
    // write (or the reverse) repositions the stream first.
    std::vector<std::pair<FILE*, int>> streamDirections;

    VarRec* FileLookup(StmtRec* s, int index);
    void FileResult(StmtRec* s, int32_t code);
    void FileDirection(FILE* fp, int op);
    void FileForget(FILE* fp);
    void FileCloseSlot(VarRec* v);
    void FileImage(VarRec* v, char** start, size_t* len, VarRec** header);
    int64_t FileWriteImage(FILE* fp, VarRec* v);
    int64_t FileReadImage(FILE* fp, VarRec* v);
    int FileReadText(FILE* fp, VarRec* v);
    StmtRec* FileRecord(StmtRec* s, bool put);
    CFileFinder* FinderOf(uint32_t handle);
    bool FetchText(StmtRec* s, int index, std::string* out);
public:

    // ---- Helpers of values/ (types, variables, fetch, assignment, declarations) ----
    // Streams of FILE and BFILE variables. Only streams made here are ever closed
    // when a variable is released, so a slot holding any other number is left alone.
    uint32_t OpenStreamSlot(FILE* fp);        // new stream object for fp; 0 (error 2) when it cannot be made
    KStream* KnownStream(uint32_t slot);      // the stream object at that slot value, null if none of ours
    void CloseStreamSlot(uint32_t slot);      // closes and frees a stream object of ours; ignores anything else
    // Window and dialog objects: only entries of the window list are ever treated as objects.
    CKestrinWnd* KnownWindowObject(uint32_t slot);
    void DestroyWindowObject(CKestrinWnd* obj);      // window subsystem: destroy the window, delete the object
    uint32_t WindowObjectHandle(CKestrinWnd* obj);   // window subsystem: the object's window handle, 0 if none
    // Storage of a variable: its first byte and its size in bytes (0 without storage).
    static char* StorageStart(const VarRec* v);
    static size_t StorageBytes(const VarRec* v);
    // First WINDOW variable holding the event window (constant 72); data is left at that element.
    VarRec* FindEventWindow(VarRec* chain, bool fallback);
    std::vector<KStream*> streamList;         // stream objects made by OpenStreamSlot that are still open
private:
    int SelectElement(VarRec* v, char* indexText);
    int IndexValue(const char* from, const char* to, int64_t* out);
    VarRec* RunAsFunction(char* text);
    void ReleaseResources(VarRec* r);
    int StoreValue(VarRec* t, char* dest, int limit, StmtRec* s, int arg);
    int StoreFromVariable(VarRec* t, char* dest, int limit, VarRec* src);
    int BuildInstances(VarRec* v, TypeDef* type, int depth);
    int DeclareMembers(VarRec* header, TypeDef* type, StmtRec* rec, int depth);
    int DefineNames(StmtRec* s, VarRec* chain, int depth);
public:

    // Helpers of io
    void OpenConsole();                                 // CmdOpenConsole's work
    void WriteConsoleText(const char* text, size_t len); // console, or the redirected handle
    // Defined by the window subsystem: draws the text with TextOut at the window's
    // current position inside AcquireDrawContext / ReleaseDrawContext(context, 1).
    void DrawOutputText(CKestrinWnd* w, const char* text, size_t len);
    // The paths of a multiple-selection file buffer, each followed by "|", whole
    // paths only, into dest (destSize bytes with the NUL); returns the length.
    static size_t JoinDialogPaths(const char* files, size_t filesSize, char* dest, size_t destSize);

    // ---- Helpers of flow (labels, jumps, subroutines, block statements) ----
private:
    // Builds a subroutine's or external function's parameter list from "a:INT, s:STRING";
    // *count (optional) receives the number of parameters. 0 with the error code set on failure.
    int BuildParameterList(VarRec* label, const char* paramText, int* count = nullptr);
    VarRec* ResolveLabel(const char* target);          // jump or call target (errors 12, 14)
    VarRec* CreateCallParameters(VarRec* label);        // fresh parameters of one call
    int BindParameter(VarRec* p, ValueRec* v);
    int GiveEmptyStorage(VarRec* p);                   // a parameter left without an argument
    void ReleaseCallScope(VarRec* header, VarRec* chain);
    void ForgetPointersInto(VarRec* dying);
    template <typename Visit> void WalkRecords(VarRec* first, Visit visit, int depth);
    void UnwindJumpFrames(uint32_t target);            // block frames a jump leaves
    int LineCommand(uint32_t line) const;              // command number of a line, -1 if none
    bool LineHasThen(uint32_t line) const;
    uint32_t MatchForward(uint32_t from, int open, int close) const;
    uint32_t MatchBackward(uint32_t from, int open, int close) const;
    bool PushFrame(uint32_t value, uint32_t marker);   // error 34 when the stack is full
    bool PopFrame(uint32_t marker, uint32_t* value);   // removes the top frame; true if it had the marker
public:

    // ---- Helpers of libcalls (interp/LibraryCalls.cpp) ----
private:
    struct ExternalCall;   // argument slots and structure copies of one library call
    int PassExternalArgument(ExternalCall& call, const ValueRec* v, const VarRec* decl);
    int PassStructure(ExternalCall& call, const ValueRec* v);
    // Copies the members of an instance into (or, with restore, back from) a flat block.
    int StructLayout(VarRec* header, int packing, char* members, size_t size, bool restore);
    void StoreExternalResult(StmtRec* s, int returnType, uint64_t value, float f, double d);
    int DeclarationText(StmtRec* s, int index, char* out, size_t size);
public:

    // ---- Helpers of sysmem (builtins/Memory.cpp, builtins/System.cpp, builtins/RawPrinter.cpp) ----
private:
    friend struct SysmemProbe;   // unit tests reach the helpers below
    // Blocks made by CmdAllocMem and CmdLoadResource, and print jobs opened by
    // CmdOpenPrinter. Numbers the program hands back are only ever treated as a
    // block or a printer when they are found here.
    struct SysmemTables {
        struct Block {
            uint32_t slot;
            size_t size;       // bytes allocated
        };
        std::vector<Block> blocks;
        std::vector<void*> printers;   // spooler handles with a document and a page started
        uint32_t soundBlock = 0;       // block last given to PlaySound
        SysmemTables() = default;
        SysmemTables(const SysmemTables&) = delete;
        SysmemTables& operator=(const SysmemTables&) = delete;
        ~SysmemTables();               // stops that sound, ends open jobs, frees the blocks
    };
    SysmemTables sysmem;
    SysmemTables::Block* KnownBlock(uint32_t slot);
    uint32_t NewBlock(size_t size, const void* from, size_t copy);   // 0 when it cannot be made
    void FreeBlock(uint32_t slot);
    ValueRec* FetchMemory(ValueRec* v, StmtRec* s, int index);
    StmtRec* TransferRecord(StmtRec* s, bool write);
    int DeleteRecord(VarRec* r, VarRec* holder);   // holder: the POINTER that named r, or null
    void* KnownPrinter(uint32_t handle);
    int BuildPrinterText(StmtRec* s, std::string* out);
    StmtRec* SysStringResult(StmtRec* s, const char* text, size_t limit);
    StmtRec* SysIntResult(StmtRec* s, int32_t value);
    void* OwnerWindow(uint32_t handle);            // window handle of a known window object
public:

    // ---- state ----
    std::string programDirectory;
    uint32_t constants[CONSTANT_COUNT];
    int initialised;
    int stringResult;
    int consoleFlag;
    int autoDeclare;
    int decimalPrec;
    VarRec* sysString;
    VarRec* sysInt;
    VarRec* sysFloat;
    VarRec* sysDouble;
    VarRec* sysPointer;
    VarRec* sysInt64;
    VarRec* lastGlobal;
    VarRec decimalPrecRec;
    VarRec stdinRec;
    VarRec stdoutRec;
    TypeDef* typeList;
    char* outputBuffer;
    std::vector<VarRec*> scopeStack;
    std::vector<std::pair<std::string, int32_t>> namedConstants;
    std::vector<CKestrinWnd*> windowList;
    char* programImage;
    uint16_t* lineNumbers;
    uint32_t lineCount;
    uint32_t currentLine;
    char** lineTable;
    uint8_t errorCode;
    StmtRec* mainStmt;
    StmtRec* nestedStmt;
    uint32_t* stack;
    uint32_t stackTop;
    CKestrinWnd* outputWindow;
    std::string normalWindowClass;
    std::string frameWindowClass;
    CommandHandler commandTable[COMMAND_SLOTS];

    // Streams behind SYSTEM_STDIN0 and SYSTEM_STDOUT0, and their slots.
    KStream stdinStream;
    KStream stdoutStream;
    uint32_t stdinSlot;
    uint32_t stdoutSlot;

    // Depth of nested statement loops (calls, commands run by the evaluator).
    int nestingDepth;

    // Statements a run may execute before it stops with BUDGET_ERROR; 0 = no limit.
    // Only test drivers set it.
    uint64_t statementBudget;
    uint64_t statementsRun;

    // Released statement records kept for reuse (calls allocate one per call).
    static const size_t MAX_SPARE_RECORDS = 64;
    std::vector<StmtRec*> spareRecords;
    void ReleaseSpareRecords();

    // Evaluation states, one per nesting level of Evaluate, kept for reuse.
    std::vector<kexpr::Evaluator*> evaluators;
    size_t evaluatorDepth;
    void ReleaseEvaluators();

private:
    void BuildCommandTable();
    void BuildConstantTable();
    void LinkBuiltins();
    int ParseCommandLine(StmtRec* s, char* line);
    int ParseAssignment(StmtRec* s, char* line);
    int ParseImplicitCall(StmtRec* s, char* line);
};
