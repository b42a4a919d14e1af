// Construction, Init, the run loop, the error report and the release of all state.
#include "interp/Kestrin.h"
#include "gui/windows/KestrinWnd.h"
#include <windows.h>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {
LRESULT CALLBACK PlainWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    return DefWindowProcA(hwnd, msg, wp, lp);
}
}

Kestrin::Kestrin()
    : initialised(0), stringResult(0), consoleFlag(0), autoDeclare(1), decimalPrec(2),
      sysString(nullptr), sysInt(nullptr), sysFloat(nullptr), sysDouble(nullptr),
      sysPointer(nullptr), sysInt64(nullptr), lastGlobal(nullptr), typeList(nullptr),
      outputBuffer(nullptr), programImage(nullptr), lineNumbers(nullptr), lineCount(0),
      currentLine(0), lineTable(nullptr), errorCode(0), mainStmt(nullptr), nestedStmt(nullptr),
      stack(nullptr), stackTop(0), outputWindow(nullptr), stdinSlot(0), stdoutSlot(0),
      nestingDepth(0), statementBudget(0), statementsRun(0), evaluatorDepth(0)
{
    BuildConstantTable();
    BuildCommandTable();
    LinkBuiltins();
}

void Kestrin::LinkBuiltins()
{
    memset(&decimalPrecRec, 0, sizeof decimalPrecRec);
    memset(&stdinRec, 0, sizeof stdinRec);
    memset(&stdoutRec, 0, sizeof stdoutRec);

    strcpy(decimalPrecRec.name, "DECIMAL_PREC");
    decimalPrecRec.type = T_SYSTEM_0;
    decimalPrecRec.data = (char*)&decimalPrec;
    decimalPrecRec.builtin = 1;

    stdinStream.fp = stdin;
    stdoutStream.fp = stdout;
    if (!PtrToSlot(&stdinStream, &stdinSlot)) stdinSlot = 0;
    if (!PtrToSlot(&stdoutStream, &stdoutSlot)) stdoutSlot = 0;

    strcpy(stdinRec.name, "SYSTEM_STDIN0");
    stdinRec.type = T_FILE;
    stdinRec.data = (char*)&stdinSlot;
    stdinRec.count = 1;
    stdinRec.builtin = 1;

    strcpy(stdoutRec.name, "SYSTEM_STDOUT0");
    stdoutRec.type = T_FILE;
    stdoutRec.data = (char*)&stdoutSlot;
    stdoutRec.count = 1;
    stdoutRec.builtin = 1;

    stdoutRec.prev = nullptr;
    stdoutRec.next = &stdinRec;
    stdinRec.prev = &stdoutRec;
    stdinRec.next = &decimalPrecRec;
    decimalPrecRec.prev = &stdinRec;
    decimalPrecRec.next = nullptr;
    lastGlobal = &decimalPrecRec;
}

Kestrin::~Kestrin()
{
    Cleanup();
    ReleaseEvaluators();
    ReleaseSpareRecords();
    windowList.clear();
    namedConstants.clear();
    scopeStack.clear();
}

bool Kestrin::SlotOf(const void* p, uint32_t* slot)
{
    if (PtrToSlot(p, slot)) return true;
    errorCode = 2;
    return false;
}

StmtRec* Kestrin::NewStatementRecord(int n)
{
    (void)n;   // every record has room for all 25 argument texts
    StmtRec* s;
    if (!spareRecords.empty()) {
        // Reused records are reset as a fresh one would be, without clearing all texts.
        s = spareRecords.back();
        spareRecords.pop_back();
        char* block = s->block;
        memset(s, 0, sizeof *s);
        s->block = block;
        for (int i = 0; i < MAX_ARGS; ++i) block[ARG_TEXT_SIZE * i] = 0;
    } else {
        s = (StmtRec*)calloc(1, sizeof(StmtRec));
        if (!s) return nullptr;
        s->block = (char*)calloc((size_t)MAX_ARGS * ARG_TEXT_SIZE + 1 + 256, 1);  // + rewritten call line
        if (!s->block) {
            free(s);
            return nullptr;
        }
    }
    for (int i = 0; i < MAX_ARGS; ++i) s->args[i] = s->block + ARG_TEXT_SIZE * i;
    s->resultType = NO_TYPE;
    return s;
}

void Kestrin::FreeStatementRecord(StmtRec* s)
{
    if (!s) return;
    if (spareRecords.size() < MAX_SPARE_RECORDS) {
        spareRecords.push_back(s);
        return;
    }
    free(s->block);
    free(s);
}

void Kestrin::ReleaseSpareRecords()
{
    for (StmtRec* s : spareRecords) {
        free(s->block);
        free(s);
    }
    spareRecords.clear();
}

int Kestrin::PushStack(uint32_t value)
{
    if (!stack || stackTop >= STACK_SLOTS) return 0;
    stack[stackTop++] = value;
    return 1;
}

uint32_t Kestrin::PopStack()
{
    if (!stack || stackTop == 0) return 0;
    return stack[--stackTop];
}

int Kestrin::Init()
{
    char stringName[32];
    strcpy(stringName, "SYSTEM_STRING0[65535]");

    if (initialised) {
        Cleanup();
        initialised = 0;
    }
    outputBuffer = (char*)malloc(OUTPUT_BUFFER_SIZE);
    decimalPrec = 2;
    mainStmt = NewStatementRecord(MAX_ARGS);
    nestedStmt = NewStatementRecord(MAX_ARGS);
    if (!outputBuffer || !mainStmt || !nestedStmt) {
        Cleanup();
        return 0;
    }
    stack = (uint32_t*)calloc(STACK_SLOTS, sizeof(uint32_t));
    stackTop = 0;
    bool ok = stack != nullptr;
    if (ok) {
        char floatName[] = "SYSTEM_FLOAT0", intName[] = "SYSTEM_INT0", int64Name[] = "SYSTEM_INT64";
        char doubleName[] = "SYSTEM_DOUBLE0", pointerName[] = "SYSTEM_POINTER0";
        sysFloat = CreateVariable(floatName, T_FLOAT, 1, nullptr);
        sysInt = CreateVariable(intName, T_INT, 1, nullptr);
        sysInt64 = CreateVariable(int64Name, T_INT64, 1, nullptr);
        sysDouble = CreateVariable(doubleName, T_DOUBLE, 1, nullptr);
        sysString = CreateVariable(stringName, T_ISTRING, 1, nullptr);
        sysPointer = CreateVariable(pointerName, T_POINTER, 1, nullptr);
        ok = sysFloat && sysInt && sysInt64 && sysDouble && sysString && sysPointer;
    }
    if (!ok) {
        Cleanup();
        return 0;
    }
    errorCode = 0;

    srand((unsigned)(time(nullptr) / 2));
    (void)rand();

    HINSTANCE inst = GetModuleHandleA(nullptr);
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = PlainWindowProc;
    wc.hInstance = inst;
    wc.hIcon = LoadIconA(inst, MAKEINTRESOURCEA(101));
    wc.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.style = CS_DBLCLKS;
    wc.lpszClassName = "KestrinWindow";
    if (RegisterClassA(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS)
        normalWindowClass = wc.lpszClassName;
    wc.hbrBackground = nullptr;
    wc.lpszClassName = "KestrinFrame";
    if (RegisterClassA(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS)
        frameWindowClass = wc.lpszClassName;

    constants[CONST_EVENT_WINDOW] = 0;
    initialised = 1;
    return 1;
}

void Kestrin::OnRunStart()
{
}

StmtRec* Kestrin::Execute(StmtRec* s)
{
    CommandHandler h = s->command < COMMAND_SLOTS ? commandTable[s->command] : nullptr;
    if (!h) {
        errorCode = 1;
        return nullptr;
    }
    return (this->*h)(s);
}

int Kestrin::RunLines(StmtRec* s, bool stopAtReturn)
{
    if (nestingDepth >= MAX_NESTING) {
        errorCode = 34;
        return 0;
    }
    ++nestingDepth;
    int returned = 0;
    while (currentLine < lineCount) {
        if (statementBudget && ++statementsRun > statementBudget) {
            errorCode = BUDGET_ERROR;
            break;
        }
        char* line = lineTable[currentLine];
        bool isReturn = false;
        bool stop = false;
        if (line[0]) {
            if (ParseLine(s, line) == 0) {
                errorCode = 0;
                stop = Execute(s) == nullptr;
                // Read after the handler: a single-line conditional parses its
                // branch (possibly a return) into the same record.
                isReturn = s->command == 45;
            }
        }
        ++currentLine;
        if (stop || errorCode) break;
        if (stopAtReturn && isReturn) {
            returned = 1;
            break;
        }
    }
    --nestingDepth;
    return returned;
}

int Kestrin::Run()
{
    errorCode = 0;
    if (!GetModuleHandleA("RICHED32.DLL")) LoadLibraryA("RICHED32.DLL");
    if (!initialised || !programImage) {
        consoleFlag = 0;
        return 0;
    }
    OnRunStart();
    currentLine = 0;
    lineCount = 0;
    if (!CountLines()) return errorCode == 0 ? 1 : 0;
    initialised = 0;
    if (!RegisterLabels()) return 0;
    initialised = 1;
    currentLine = 0;

    RunLines(mainStmt, false);

    int result = errorCode == 0 ? 1 : 0;
    ReportError();
    consoleFlag = 0;
    return result;
}

std::string Kestrin::ErrorText()
{
    unsigned line = 0;
    if (lineNumbers && currentLine != 0 && currentLine - 1 < lineCount)
        line = lineNumbers[currentLine - 1];
    char text[255];
    snprintf(text, sizeof text, "An error has occured\nLine number: %u\nPlease contact the program vendor\n%u",
             line + 1, (unsigned)errorCode);
    return text;
}

void Kestrin::ReportError()
{
    if (!errorCode) return;
    for (CKestrinWnd* w : windowList)
        if (w) w->DestroyWindow();
    FreeConsole();
    MessageBoxA(nullptr, ErrorText().c_str(), "Error", MB_ICONHAND);
}

void Kestrin::Cleanup()
{
    if (!scopeStack.empty()) {
        VarRec* mainChain = scopeStack.front();
        VarRec* current = CurrentScope();
        // Chains of the calls that were active when the run stopped.
        for (size_t i = 1; i < scopeStack.size(); ++i)
            if (scopeStack[i] && scopeStack[i] != mainChain) FreeChain(scopeStack[i], false);
        if (current && current != mainChain) FreeChain(current, false);
        SetCurrentScope(mainChain);
        scopeStack.clear();
    }
    FreeStatementRecord(mainStmt);
    FreeStatementRecord(nestedStmt);
    mainStmt = nestedStmt = nullptr;
    free(outputBuffer);
    outputBuffer = nullptr;
    free(stack);
    stack = nullptr;
    stackTop = 0;
    free(lineTable);
    lineTable = nullptr;
    free(lineNumbers);
    lineNumbers = nullptr;
    lineCount = 0;

    FreeChain(&stdoutRec, false);
    sysString = sysInt = sysFloat = sysDouble = sysPointer = sysInt64 = nullptr;

    stdoutRec.prev = nullptr;
    stdoutRec.next = &stdinRec;
    stdinRec.prev = &stdoutRec;
    stdinRec.next = &decimalPrecRec;
    decimalPrecRec.prev = &stdinRec;
    decimalPrecRec.next = nullptr;
    lastGlobal = &decimalPrecRec;

    if (typeList) {
        TypeDef* t = typeList;
        while (t->next) t = t->next;
        while (t) {
            TypeDef* p = t->prev;
            free(t);
            t = p;
        }
        typeList = nullptr;
    }
    namedConstants.clear();
    windowList.clear();
    outputWindow = nullptr;
    nestingDepth = 0;
}
