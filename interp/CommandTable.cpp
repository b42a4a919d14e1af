// The command table: slot n holds the handler of command n.
#include "interp/Kestrin.h"

void Kestrin::BuildCommandTable()
{
    static const CommandHandler table[COMMAND_SLOTS] = {
        &Kestrin::CmdPrint,  // 0
        &Kestrin::CmdInput,  // 1
        &Kestrin::CmdFor,  // 2
        &Kestrin::CmdNext,  // 3
        &Kestrin::CmdWhile,  // 4
        &Kestrin::CmdEndWhile,  // 5
        &Kestrin::CmdIf,  // 6
        &Kestrin::CmdNoOp,  // 7
        &Kestrin::CmdNoOp,  // 8 CmdOpenWindow: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 9 CmdGetButtonState: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 10 CmdAddControl: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 11 CmdSetMenuBar: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 12 CmdPumpEvents: window subsystem, not yet bound
        &Kestrin::CmdGoto,  // 13
        &Kestrin::CmdOpenFile,  // 14
        &Kestrin::CmdCloseFile,  // 15
        &Kestrin::CmdReadFile,  // 16
        &Kestrin::CmdWriteFile,  // 17
        &Kestrin::CmdNoOp,  // 18 CmdCloseWindow: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 19 CmdGetBitmapSize: window subsystem, not yet bound
        &Kestrin::CmdAssign,  // 20
        &Kestrin::CmdDefine,  // 21
        &Kestrin::CmdEnd,  // 22
        &Kestrin::CmdLabel,  // 23
        &Kestrin::CmdFileDialog,  // 24
        &Kestrin::CmdDeleteVariable,  // 25
        &Kestrin::CmdNoOp,  // 26 CmdSetBackMode: window subsystem, not yet bound
        &Kestrin::CmdLocate,  // 27
        &Kestrin::CmdNoOp,  // 28 CmdMoveTo: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 29 CmdSetOutputWindow: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 30 CmdSetColor: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 31 CmdSetBackColor: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 32 CmdSetDrawMode: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 33 CmdSetFont: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 34 CmdGetControlText: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 35
        &Kestrin::CmdShellOpen,  // 36
        &Kestrin::CmdSetDecimalPrec,  // 37
        &Kestrin::CmdNoOp,  // 38 CmdFloodFill: window subsystem, not yet bound
        &Kestrin::CmdGetKey,  // 39
        &Kestrin::CmdNoOp,  // 40 CmdSetControlText: window subsystem, not yet bound
        &Kestrin::CmdSelect,  // 41
        &Kestrin::CmdCase,  // 42
        &Kestrin::CmdEndSelect,  // 43
        &Kestrin::CmdCallSub,  // 44
        &Kestrin::CmdReturn,  // 45
        &Kestrin::CmdNoOp,  // 46 CmdLine: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 47 CmdSetPixel: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 48 CmdRect: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 49 CmdCircle: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 50 CmdEllipse: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 51 CmdChooseColor: window subsystem, not yet bound
        &Kestrin::CmdDefault,  // 52
        &Kestrin::CmdToHex,  // 53
        &Kestrin::CmdNoOp,  // 54 CmdSetButtonState: window subsystem, not yet bound
        &Kestrin::CmdElse,  // 55
        &Kestrin::CmdLabel,  // 56
        &Kestrin::CmdNoOp,  // 57
        &Kestrin::CmdNoOp,  // 58 CmdSetTimer: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 59 CmdKillTimer: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 60 CmdInsertMenus: window subsystem, not yet bound
        &Kestrin::CmdSubstring,  // 61
        &Kestrin::CmdLeftPart,  // 62
        &Kestrin::CmdRightPart,  // 63
        &Kestrin::CmdConcat,  // 64
        &Kestrin::CmdSizeOf,  // 65
        &Kestrin::CmdGoto,  // 66
        &Kestrin::CmdNoOp,  // 67
        &Kestrin::CmdCharCode,  // 68
        &Kestrin::CmdCharFromCode,  // 69
        &Kestrin::CmdDateText,  // 70
        &Kestrin::CmdTimeText,  // 71
        &Kestrin::CmdSecondsToday,  // 72
        &Kestrin::CmdTextToNumber,  // 73
        &Kestrin::CmdType,  // 74
        &Kestrin::CmdNoOp,  // 75
        &Kestrin::CmdOpenConsole,  // 76
        &Kestrin::CmdCloseConsole,  // 77
        &Kestrin::CmdDo,  // 78
        &Kestrin::CmdUntil,  // 79
        &Kestrin::CmdNumberToText,  // 80
        &Kestrin::CmdRepeat,  // 81
        &Kestrin::CmdSpaces,  // 82
        &Kestrin::CmdDeclare,  // 83
        &Kestrin::CmdTrimLeft,  // 84
        &Kestrin::CmdTrimRight,  // 85
        &Kestrin::CmdClearConsole,  // 86
        &Kestrin::CmdFindText,  // 87
        &Kestrin::CmdConsoleColor,  // 88
        &Kestrin::CmdNoOp,  // 89 CmdRGB: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 90 CmdSetWindowText: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 91 CmdGetWindowText: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 92 CmdMoveWindow: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 93 CmdGetWindowRect: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 94 CmdGetClientRect: window subsystem, not yet bound
        &Kestrin::CmdSin,  // 95
        &Kestrin::CmdCos,  // 96
        &Kestrin::CmdTan,  // 97
        &Kestrin::CmdArcSin,  // 98
        &Kestrin::CmdArcCos,  // 99
        &Kestrin::CmdArcTan,  // 100
        &Kestrin::CmdAbs,  // 101
        &Kestrin::CmdCeiling,  // 102
        &Kestrin::CmdFloor,  // 103
        &Kestrin::CmdSqrt,  // 104
        &Kestrin::CmdExp,  // 105
        &Kestrin::CmdRandom,  // 106
        &Kestrin::CmdTruncate,  // 107
        &Kestrin::CmdSinh,  // 108
        &Kestrin::CmdCosh,  // 109
        &Kestrin::CmdTanh,  // 110
        &Kestrin::CmdLog,  // 111
        &Kestrin::CmdLog10,  // 112
        &Kestrin::CmdSign,  // 113
        &Kestrin::CmdNoOp,  // 114 CmdShowWindow: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 115 CmdGetScreenSize: window subsystem, not yet bound
        &Kestrin::CmdAtEndOfFile,  // 116
        &Kestrin::CmdFilePosition,  // 117
        &Kestrin::CmdGetRecord,  // 118
        &Kestrin::CmdPutRecord,  // 119
        &Kestrin::CmdCallExternal,  // 120
        &Kestrin::CmdToUpper,  // 121
        &Kestrin::CmdToLower,  // 122
        &Kestrin::CmdConst,  // 123
        &Kestrin::CmdNoOp,  // 124 CmdSetScrollPos: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 125 CmdGetScrollPos: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 126 CmdSetScrollRange: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 127 CmdGetScrollRange: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 128 CmdCreateDialog: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 129 CmdDoModal: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 130 CmdCenterWindow: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 131 CmdCloseDialog: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 132 CmdListAddString: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 133 CmdListInsertString: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 134 CmdListGetText: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 135 CmdListDeleteString: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 136 CmdListGetCount: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 137 CmdListIsSelected: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 138 CmdListGetSelection: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 139 CmdListSetSelection: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 140
        &Kestrin::CmdNoOp,  // 141 CmdSetLineStyle: window subsystem, not yet bound
        &Kestrin::CmdAllocMem,  // 142
        &Kestrin::CmdFreeMem,  // 143
        &Kestrin::CmdReadMem,  // 144
        &Kestrin::CmdWriteMem,  // 145
        &Kestrin::CmdNoOp,  // 146 CmdGetWindowHdc: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 147 CmdReleaseWindowHdc: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 148 CmdLoadImage: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 149 CmdShowImage: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 150 CmdDeleteImage: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 151 CmdSetCursor: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 152 CmdSetWindowIcon: window subsystem, not yet bound
        &Kestrin::CmdPlaySound,  // 153
        &Kestrin::CmdBitNot,  // 154
        &Kestrin::CmdSetConstant,  // 155
        &Kestrin::CmdNoOp,  // 156
        &Kestrin::CmdNoOp,  // 157
        &Kestrin::CmdNoOp,  // 158
        &Kestrin::CmdNoOp,  // 159
        &Kestrin::CmdNoOp,  // 160
        &Kestrin::CmdNoOp,  // 161
        &Kestrin::CmdNoOp,  // 162
        &Kestrin::CmdNoOp,  // 163
        &Kestrin::CmdNoOp,  // 164
        &Kestrin::CmdNoOp,  // 165
        &Kestrin::CmdNoOp,  // 166
        &Kestrin::CmdNoOp,  // 167
        &Kestrin::CmdMessageBox,  // 168
        &Kestrin::CmdNoOp,  // 169
        &Kestrin::CmdNoOp,  // 170
        &Kestrin::CmdProgramDirectory,  // 171
        &Kestrin::CmdNoOp,  // 172
        &Kestrin::CmdNoOp,  // 173
        &Kestrin::CmdNoOp,  // 174
        &Kestrin::CmdNoOp,  // 175
        &Kestrin::CmdNoOp,  // 176
        &Kestrin::CmdNoOp,  // 177
        &Kestrin::CmdKeyState,  // 178
        &Kestrin::CmdNoOp,  // 179
        &Kestrin::CmdNoOp,  // 180
        &Kestrin::CmdNoOp,  // 181
        &Kestrin::CmdNoOp,  // 182
        &Kestrin::CmdNoOp,  // 183
        &Kestrin::CmdNoOp,  // 184 CmdEnableMenuItem: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 185 CmdCheckMenuItem: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 186 CmdEnableControl: window subsystem, not yet bound
        &Kestrin::CmdWaitUntil,  // 187
        &Kestrin::CmdNoOp,  // 188 CmdSetControlColor: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 189 CmdPopupMenu: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 190 CmdPrintWindow: window subsystem, not yet bound
        &Kestrin::CmdDefaultPrinter,  // 191
        &Kestrin::CmdOpenPrinter,  // 192
        &Kestrin::CmdClosePrinter,  // 193
        &Kestrin::CmdNewPrinterPage,  // 194
        &Kestrin::CmdPrinterWrite,  // 195
        &Kestrin::CmdPrintDialog,  // 196
        &Kestrin::CmdNoOp,  // 197 CmdListSetColumnWidth: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 198 CmdControlExists: window subsystem, not yet bound
        &Kestrin::CmdCopyFile,  // 199
        &Kestrin::CmdDeleteFile,  // 200
        &Kestrin::CmdCreateDirectory,  // 201
        &Kestrin::CmdRemoveDirectory,  // 202
        &Kestrin::CmdFreeLibrary,  // 203
        &Kestrin::CmdOverwriteText,  // 204
        &Kestrin::CmdFindOpen,  // 205
        &Kestrin::CmdFindNext,  // 206
        &Kestrin::CmdFindClose,  // 207
        &Kestrin::CmdNoOp,  // 208 CmdBrowser: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 209 CmdShowDialog: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 210 CmdSetFocus: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 211 CmdGetTextExtent: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 212 CmdChooseFont: window subsystem, not yet bound
        &Kestrin::CmdPointerType,  // 213
        &Kestrin::CmdIsArray,  // 214
        &Kestrin::CmdFormatPicture,  // 215
        &Kestrin::CmdNew,  // 216
        &Kestrin::CmdDelete,  // 217
        &Kestrin::CmdNoOp,  // 218
        &Kestrin::CmdNoOp,  // 219 CmdGetPixel: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 220 CmdListSetHorizontalExtent: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 221 CmdSendMessage: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 222 CmdControlCommand: window subsystem, not yet bound
        &Kestrin::CmdAlwaysZero,  // 223
        &Kestrin::CmdNoOp,  // 224 CmdEnableMenuPopup: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 225 CmdSetBackgroundColour: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 226 CmdAppendMenuItem: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 227 CmdRemoveMenuItem: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 228
        &Kestrin::CmdNoOp,  // 229
        &Kestrin::CmdNoOp,  // 230
        &Kestrin::CmdNoOp,  // 231
        &Kestrin::CmdNoOp,  // 232
        &Kestrin::CmdNoOp,  // 233
        &Kestrin::CmdNoOp,  // 234
        &Kestrin::CmdNoOp,  // 235
        &Kestrin::CmdNoOp,  // 236
        &Kestrin::CmdNoOp,  // 237
        &Kestrin::CmdNoOp,  // 238 CmdDialogNavigation: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 239
        &Kestrin::CmdLoadResource,  // 240
        &Kestrin::CmdNoOp,  // 241 CmdLoadMenu: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 242 CmdCreateToolbar: window subsystem, not yet bound
        &Kestrin::CmdAutoDeclare,  // 243
        &Kestrin::CmdNoOp,  // 244 CmdSetWindowData: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 245 CmdGetWindowData: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 246 CmdGetDrawPosition: window subsystem, not yet bound
        &Kestrin::CmdNoOp,  // 247
        &Kestrin::CmdNoOp,  // 248 CmdGetCaretPos: window subsystem, not yet bound
        nullptr,  // 249: no handler
    };
    for (int i = 0; i < COMMAND_SLOTS; ++i)
        commandTable[i] = table[i];
}

StmtRec* Kestrin::CmdNoOp(StmtRec* s)
{
    return s;
}
