// Temporary definitions of handlers and helpers still being written.
// Each area removes its entries from here when it lands; this file must end empty.
#include "interp/Kestrin.h"

// interp/Labels.cpp
StmtRec* Kestrin::CmdLabel(StmtRec* s) { return s; }
// interp/Subroutines.cpp
StmtRec* Kestrin::CmdCallSub(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdDeclare(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdEnd(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdGoto(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdReturn(StmtRec* s) { return s; }
// interp/LibraryCalls.cpp
StmtRec* Kestrin::DeclareExternal(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdCallExternal(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdFreeLibrary(StmtRec* s) { return s; }
// values/Assign.cpp
StmtRec* Kestrin::CmdAssign(StmtRec* s) { return s; }
// values/Declarations.cpp
StmtRec* Kestrin::CmdConst(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdDefine(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdNew(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdType(StmtRec* s) { return s; }
// expr/Evaluate.cpp
StmtRec* Kestrin::CmdSetConstant(StmtRec* s) { return s; }
// expr/NumberFormat.cpp
StmtRec* Kestrin::CmdFormatPicture(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdNumberToText(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdSetDecimalPrec(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdTextToNumber(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdToHex(StmtRec* s) { return s; }
// builtins/ControlFlow.cpp
StmtRec* Kestrin::CmdCase(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdDefault(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdDo(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdElse(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdEndSelect(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdEndWhile(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdFor(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdIf(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdNext(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdSelect(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdUntil(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdWaitUntil(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdWhile(StmtRec* s) { return s; }
// builtins/Strings.cpp
StmtRec* Kestrin::CmdCharCode(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdCharFromCode(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdConcat(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdFindText(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdLeftPart(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdOverwriteText(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdRepeat(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdRightPart(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdSizeOf(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdSpaces(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdSubstring(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdToLower(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdToUpper(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdTrimLeft(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdTrimRight(StmtRec* s) { return s; }
// builtins/Files.cpp
StmtRec* Kestrin::CmdAtEndOfFile(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdCloseFile(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdFilePosition(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdGetRecord(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdOpenFile(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdPutRecord(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdReadFile(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdWriteFile(StmtRec* s) { return s; }
// builtins/FileSystem.cpp
StmtRec* Kestrin::CmdCopyFile(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdCreateDirectory(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdDeleteFile(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdFindClose(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdFindNext(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdFindOpen(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdRemoveDirectory(StmtRec* s) { return s; }
// builtins/Math.cpp
StmtRec* Kestrin::CmdAbs(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdArcCos(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdArcSin(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdArcTan(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdBitNot(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdCeiling(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdCos(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdCosh(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdExp(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdFloor(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdLog(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdLog10(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdRandom(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdSign(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdSin(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdSinh(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdSqrt(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdTan(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdTanh(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdTruncate(StmtRec* s) { return s; }
// builtins/Memory.cpp
StmtRec* Kestrin::CmdAllocMem(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdDelete(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdDeleteVariable(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdFreeMem(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdIsArray(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdLoadResource(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdPointerType(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdReadMem(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdWriteMem(StmtRec* s) { return s; }
// builtins/System.cpp
StmtRec* Kestrin::CmdAlwaysZero(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdAutoDeclare(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdDateText(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdKeyState(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdMessageBox(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdPlaySound(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdProgramDirectory(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdSecondsToday(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdShellOpen(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdTimeText(StmtRec* s) { return s; }
// builtins/RawPrinter.cpp
StmtRec* Kestrin::CmdClosePrinter(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdDefaultPrinter(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdNewPrinterPage(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdOpenPrinter(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdPrintDialog(StmtRec* s) { return s; }
StmtRec* Kestrin::CmdPrinterWrite(StmtRec* s) { return s; }

// values/
VarRec* Kestrin::CreateVariable(char*, int, uint32_t, VarRec*) { return nullptr; }
VarRec* Kestrin::LookupVariable(char*, VarRec*, bool) { errorCode = 10; return nullptr; }
void Kestrin::FreeChain(VarRec*, bool) {}
void Kestrin::SetCurrentScope(VarRec* first) { decimalPrecRec.next = first; }
VarRec* Kestrin::MainChain() { return nullptr; }
VarRec* Kestrin::ResultVariableFor(int) { return nullptr; }
int Kestrin::ElementSize(int) { return 0; }
const char* Kestrin::TypeName(int) { return ""; }
const char* Kestrin::TypeFormat(int) { return ""; }
int Kestrin::TypeCodeByName(const char*) { return -1; }
ValueRec* Kestrin::FetchArgument(ValueRec*, StmtRec*, int, int) { errorCode = 1; return nullptr; }
int Kestrin::StructSize(VarRec*) { return 0; }
char* Kestrin::StructFlatten(char* d, VarRec*) { return d; }
char* Kestrin::StructRestore(char* d, VarRec*) { return d; }
void Kestrin::StructWrite(FILE*, VarRec*) {}
void Kestrin::StructRead(FILE*, VarRec*) {}
int Kestrin::CopyStruct(VarRec*, VarRec*) { return 0; }
TypeDef* Kestrin::FindType(const char*) { return nullptr; }
// expr/
double Kestrin::Evaluate(const char*) { errorCode = 1; return 0; }
// interp/Labels.cpp
int Kestrin::RegisterLabels() { return 1; }
