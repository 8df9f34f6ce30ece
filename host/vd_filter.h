// The host's filter interface as this module uses it: the records the host
// hands over, the procedure types it calls, and the preview interface.
//
// A module only works inside a real host if these declarations match the
// host's memory layout to the byte, so every size and offset that the host
// relies on is pinned with static_assert below, for the 32-bit layout (the
// classic host) and for the 64-bit layout (64-bit hosts and the native build).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#else
// Stand-ins for the Windows handle types, so the module's host-facing code
// compiles natively (command-line host, tests) with the same shapes.
struct HWND__;
typedef HWND__* HWND;
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
struct HDC__;
typedef HDC__* HDC;
#endif

// Every procedure the host calls uses the C calling convention. On 64-bit
// targets there is only one convention and the keyword is dropped.
#if defined(_WIN32) && !defined(_WIN64)
#define VDCALL __cdecl
#else
#define VDCALL
#endif

struct FilterActivation;
struct FilterDefinition;
struct FilterFunctions;
struct FilterModule;
struct CScriptValue;
class IScriptInterpreter;

// API version this module is written for, and the oldest it works with.
constexpr int kVirtualDubFilterApiVersion = 8;
constexpr int kVirtualDubFilterApiCompatible = 4;

// ---- Procedure types -------------------------------------------------------

typedef int(VDCALL* FilterInitProc)(FilterActivation* fa, const FilterFunctions* ff);
typedef void(VDCALL* FilterDeinitProc)(FilterActivation* fa, const FilterFunctions* ff);
typedef int(VDCALL* FilterRunProc)(const FilterActivation* fa, const FilterFunctions* ff);
typedef long(VDCALL* FilterParamProc)(FilterActivation* fa, const FilterFunctions* ff);
typedef int(VDCALL* FilterConfigProc)(FilterActivation* fa, const FilterFunctions* ff, HWND parent);
typedef void(VDCALL* FilterStringProc)(const FilterActivation* fa, const FilterFunctions* ff, char* buf);
typedef int(VDCALL* FilterStartProc)(FilterActivation* fa, const FilterFunctions* ff);
typedef int(VDCALL* FilterEndProc)(FilterActivation* fa, const FilterFunctions* ff);
typedef bool(VDCALL* FilterScriptStrProc)(FilterActivation* fa, const FilterFunctions* ff, char* buf,
                                          int length);
typedef void(VDCALL* FilterStringProc2)(const FilterActivation* fa, const FilterFunctions* ff, char* buf,
                                        int length);
typedef long(VDCALL* FilterSerialize)(FilterActivation* fa, const FilterFunctions* ff, char* buf, int length);
typedef void(VDCALL* FilterDeserialize)(FilterActivation* fa, const FilterFunctions* ff, const char* buf,
                                        int length);
typedef void(VDCALL* FilterCopy)(FilterActivation* fa, const FilterFunctions* ff, void* dst);

typedef int(VDCALL* FilterModuleInitProc)(FilterModule* fm, const FilterFunctions* ff, int& version,
                                          int& compatible);
typedef void(VDCALL* FilterModuleDeinitProc)(FilterModule* fm, const FilterFunctions* ff);

// ---- Script binding --------------------------------------------------------

enum CScriptValueType : int {
  kScriptVoid = 0,
  kScriptInt = 1,
  kScriptIntPointer = 2,
  kScriptString = 3,
  kScriptArray = 4,
  kScriptObject = 5,
  kScriptFunctionName = 6,
  kScriptFunction = 7,
  kScriptVariable = 8,
  kScriptLong = 9,
  kScriptDouble = 10,
};

// One script argument. Hosts give an integer either as type int or as a
// sign-extended 64-bit integer; both keep the low 32 bits at the start of
// the union, which is why a script function reads `value.i` and ignores
// the type.
struct CScriptValue {
  int type;
  void* object;
  union alignas(8) Value {
    int i;
    long long l;
    double d;
    void* p;
  } value;
};

typedef void(VDCALL* ScriptFunctionPtr)(IScriptInterpreter* isi, FilterActivation* fa, const CScriptValue* argv,
                                        int argc);

struct ScriptFunctionDef {
  ScriptFunctionPtr func;
  const char* name;
  const char* signature;  // result type then argument types: "0ii"
};

struct CScriptObject {
  void* lookup;
  ScriptFunctionDef* functions;
  void* objects;
};

// ---- Records ---------------------------------------------------------------

struct FilterModule {
  FilterModule* next;
  FilterModule* prev;
  HINSTANCE hInstModule;  // where the dialog template is found
  FilterModuleInitProc initProc;
  FilterModuleDeinitProc deinitProc;
};

struct FilterDefinition {
  FilterDefinition* next;  // filled by the host
  FilterDefinition* prev;  // filled by the host
  FilterModule* module;    // filled by the host
  const char* name;
  const char* desc;
  const char* maker;
  void* private_data;
  int inst_data_size;
  FilterInitProc initProc;
  FilterDeinitProc deinitProc;
  FilterRunProc runProc;
  FilterParamProc paramProc;
  FilterConfigProc configProc;
  FilterStringProc stringProc;
  FilterStartProc startProc;
  FilterEndProc endProc;
  CScriptObject* script_obj;
  FilterScriptStrProc fssProc;
  FilterStringProc2 stringProc2;
  FilterSerialize serializeProc;
  FilterDeserialize deserializeProc;
  FilterCopy copyProc;
};

struct FilterFunctions {
  FilterDefinition*(VDCALL* addFilter)(FilterModule* fm, FilterDefinition* def, int def_size);
  void(VDCALL* removeFilter)(FilterDefinition* handle);
  bool(VDCALL* isFPUEnabled)();
  bool(VDCALL* isMMXEnabled)();
  void(VDCALL* InitVTables)(void* vtables);
  void(VDCALL* ExceptOutOfMemory)();
  void(VDCALL* Except)(const char* format, ...);
  long(VDCALL* getCPUFlags)();
  long(VDCALL* getHostVersionInfo)(char* buf, int len);
};

// The host's bitmap. Its class has virtual methods, so a hidden table pointer
// comes first; it is spelt out here as a plain field to keep the record a
// standard-layout struct the module can read without constructing anything.
struct VFBitmap {
  void* host_vtable;
  uint32_t* data;  // row 0 in memory order
  uint32_t* palette;
  int depth;
  int w;
  int h;
  ptrdiff_t pitch;   // bytes from one row start to the next
  ptrdiff_t modulo;  // bytes from one row's end to the next row's start
  ptrdiff_t size;
  ptrdiff_t offset;
  uint32_t flags;
  HDC hdc;
};

// The host's preview. Only Toggle, RedoFrame and InitButton are called, but
// all twelve methods are declared in the host's order so those three land in
// the right virtual-table slots. No destructor: it would take a slot.
class IFilterPreview {
 public:
  typedef void(VDCALL* ButtonCallback)(bool enabled, void* data);
  typedef void(VDCALL* SampleCallback)(VFBitmap* bitmap, long frame, long count, void* data);

  virtual void SetButtonCallback(ButtonCallback cb, void* data) = 0;
  virtual void SetSampleCallback(SampleCallback cb, void* data) = 0;
  virtual bool isPreviewEnabled() = 0;
  virtual void Toggle(HWND dialog) = 0;
  virtual void Display(HWND dialog, bool show) = 0;
  virtual void RedoFrame() = 0;
  virtual void RedoSystem() = 0;
  virtual void UndoSystem() = 0;
  virtual void InitButton(HWND button) = 0;
  virtual void Close() = 0;
  virtual bool SampleCurrentFrame() = 0;
  virtual long SampleFrames() = 0;
};

struct FilterActivation {
  FilterDefinition* filter;
  void* filter_data;  // the instance's settings record
  VFBitmap* dst;      // a C++ reference in the host's declaration
  VFBitmap* src;
  VFBitmap* rsrvd;
  VFBitmap* last;
  int x1, y1, x2, y2;
  void* pfsi;
  IFilterPreview* ifp;
};

// ---- Layout pins -----------------------------------------------------------

#define VD_PIN(type, field, off32, off64) \
  static_assert(offsetof(type, field) == (sizeof(void*) == 4 ? (off32) : (off64)), #type "::" #field)
#define VD_SIZE(type, size32, size64) \
  static_assert(sizeof(type) == (sizeof(void*) == 4 ? (size32) : (size64)), "sizeof " #type)

VD_SIZE(FilterModule, 20, 40);
VD_PIN(FilterModule, hInstModule, 8, 16);
VD_PIN(FilterModule, deinitProc, 16, 32);

VD_SIZE(FilterDefinition, 88, 176);
VD_PIN(FilterDefinition, module, 8, 16);
VD_PIN(FilterDefinition, name, 12, 24);
VD_PIN(FilterDefinition, desc, 16, 32);
VD_PIN(FilterDefinition, maker, 20, 40);
VD_PIN(FilterDefinition, private_data, 24, 48);
VD_PIN(FilterDefinition, inst_data_size, 28, 56);
VD_PIN(FilterDefinition, initProc, 32, 64);
VD_PIN(FilterDefinition, deinitProc, 36, 72);
VD_PIN(FilterDefinition, runProc, 40, 80);
VD_PIN(FilterDefinition, paramProc, 44, 88);
VD_PIN(FilterDefinition, configProc, 48, 96);
VD_PIN(FilterDefinition, stringProc, 52, 104);
VD_PIN(FilterDefinition, startProc, 56, 112);
VD_PIN(FilterDefinition, endProc, 60, 120);
VD_PIN(FilterDefinition, script_obj, 64, 128);
VD_PIN(FilterDefinition, fssProc, 68, 136);
VD_PIN(FilterDefinition, stringProc2, 72, 144);
VD_PIN(FilterDefinition, serializeProc, 76, 152);
VD_PIN(FilterDefinition, deserializeProc, 80, 160);
VD_PIN(FilterDefinition, copyProc, 84, 168);

VD_PIN(FilterFunctions, addFilter, 0, 0);
VD_PIN(FilterFunctions, removeFilter, 4, 8);
VD_PIN(FilterFunctions, getHostVersionInfo, 32, 64);

VD_SIZE(VFBitmap, 48, 88);
VD_PIN(VFBitmap, data, 4, 8);
VD_PIN(VFBitmap, palette, 8, 16);
VD_PIN(VFBitmap, depth, 12, 24);
VD_PIN(VFBitmap, w, 16, 28);
VD_PIN(VFBitmap, h, 20, 32);
VD_PIN(VFBitmap, pitch, 24, 40);
VD_PIN(VFBitmap, modulo, 28, 48);
VD_PIN(VFBitmap, size, 32, 56);
VD_PIN(VFBitmap, offset, 36, 64);
VD_PIN(VFBitmap, flags, 40, 72);
VD_PIN(VFBitmap, hdc, 44, 80);

VD_SIZE(FilterActivation, 48, 80);
VD_PIN(FilterActivation, filter, 0, 0);
VD_PIN(FilterActivation, filter_data, 4, 8);
VD_PIN(FilterActivation, dst, 8, 16);
VD_PIN(FilterActivation, src, 12, 24);
VD_PIN(FilterActivation, rsrvd, 16, 32);
VD_PIN(FilterActivation, last, 20, 40);
VD_PIN(FilterActivation, x1, 24, 48);
VD_PIN(FilterActivation, y2, 36, 60);
VD_PIN(FilterActivation, pfsi, 40, 64);
VD_PIN(FilterActivation, ifp, 44, 72);

VD_SIZE(CScriptValue, 16, 24);
VD_PIN(CScriptValue, type, 0, 0);
VD_PIN(CScriptValue, object, 4, 8);
VD_PIN(CScriptValue, value, 8, 16);

VD_SIZE(ScriptFunctionDef, 12, 24);
VD_SIZE(CScriptObject, 12, 24);
VD_PIN(CScriptObject, functions, 4, 8);

static_assert(sizeof(IFilterPreview) == sizeof(void*), "IFilterPreview is a bare interface");

#undef VD_PIN
#undef VD_SIZE
