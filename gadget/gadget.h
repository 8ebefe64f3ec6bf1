// Gadgets: numbered controls on a program window, dispatched through one
// table of operations per kind. The framework keeps the gadget table, the
// current gadget list (the window that receives new gadgets), the subclass
// procedures that keep the table in step with each control's life, the
// generic operations the application calls by number, and a shared cache of
// solid brushes. The kinds are the push button and the list view.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/event_codes.h"
#include "core/object_table.h"
#include "core/string.h"

struct GadgetKind;

// One per gadget, kept in the gadget table; all zero while the number is free.
struct Gadget {
  HWND window;  // the control; non-zero exactly while the gadget lives
  const GadgetKind* kind;
  WNDPROC previousProc;  // the control's procedure before GadgetWindowProc
  int32_t backColor;     // 0x00BBGGRR, or -1 for the system's colour
  int32_t frontColor;    // 0x00BBGGRR, or -1 for the system's colour
  HBRUSH backBrush;      // solid brush of backColor from the brush cache, or null
};

// Which colour setColor and getColor address.
constexpr int32_t GADGET_COLOR_TEXT = 1;
constexpr int32_t GADGET_COLOR_BACKGROUND = 2;

// The operations of one kind. Slots are in a fixed order; a null slot means
// the kind does not support the operation. Every operation gets the record
// first; the record may move when the gadget table grows, so it is valid only
// for the length of the call.
using GadgetOnMessage = LRESULT (*)(Gadget* gadget, HWND parent, UINT message, WPARAM wParam, LPARAM lParam);
using GadgetOnDestroy = void (*)(Gadget* gadget);
using GadgetGetValue = intptr_t (*)(Gadget* gadget);
using GadgetSetValue = intptr_t (*)(Gadget* gadget, intptr_t value);
using GadgetGetString = String (*)(Gadget* gadget);
using GadgetSetString = intptr_t (*)(Gadget* gadget, const char* text);
using GadgetAddRow = intptr_t (*)(Gadget* gadget, intptr_t position, const char* text, intptr_t extra);
using GadgetAddRowEx = intptr_t (*)(Gadget* gadget, intptr_t position, const char* text, intptr_t extra,
                                    intptr_t extraFlags);
using GadgetRowAction = intptr_t (*)(Gadget* gadget, intptr_t row);
using GadgetAction = void (*)(Gadget* gadget);
using GadgetSetRowValue = intptr_t (*)(Gadget* gadget, intptr_t row, intptr_t value);
using GadgetGetRowString = String (*)(Gadget* gadget, intptr_t row, intptr_t extra);
using GadgetSetRowString = intptr_t (*)(Gadget* gadget, intptr_t row, const char* text, intptr_t extra);
using GadgetSetColorOperation = intptr_t (*)(Gadget* gadget, int32_t which, int32_t color);
using GadgetGetColorOperation = int32_t (*)(Gadget* gadget, int32_t which);

struct GadgetKind {
  int32_t kindId = 0;                          // 1 = button, 6 = list view
  GadgetOnMessage onMessage = nullptr;         // 1
  GadgetOnDestroy onDestroy = nullptr;         // 2
  GadgetGetValue getState = nullptr;           // 3
  GadgetSetValue setState = nullptr;           // 4
  GadgetGetString getText = nullptr;           // 5
  GadgetSetString setText = nullptr;           // 6
  GadgetAddRow addItem = nullptr;              // 7
  GadgetAddRowEx addItemEx = nullptr;          // 8
  GadgetRowAction removeItem = nullptr;        // 9
  GadgetAction clearItems = nullptr;           // 10
  void* reserved11 = nullptr;                  // 11
  GadgetGetValue countItems = nullptr;         // 12
  GadgetRowAction getItemState = nullptr;      // 13
  GadgetSetRowValue setItemState = nullptr;    // 14
  GadgetGetRowString getItemText = nullptr;    // 15
  GadgetSetRowString setItemText = nullptr;    // 16
  void* reserved17to28[12] = {};               // 17-28
  GadgetSetColorOperation setColor = nullptr;  // 29
  GadgetGetColorOperation getColor = nullptr;  // 30
  void* reserved31to32[2] = {};                // 31-32
  GadgetSetRowValue setItemData = nullptr;     // 33
  GadgetRowAction getItemData = nullptr;       // 34
  void* reserved35 = nullptr;                  // 35
};

constexpr int32_t GADGET_KIND_BUTTON = 1;
constexpr int32_t GADGET_KIND_LIST_VIEW = 6;

// Library start and end. The end step releases nothing: gadgets go with their
// windows when the window library ends after it.
void GadgetLibraryInit();
void GadgetLibraryEnd();

// The gadget table; null before GadgetLibraryInit.
ObjectTable* GadgetTable();
// The live record of a number, or null. Valid until the next creation.
Gadget* GadgetGet(intptr_t number);

// Makes window the current gadget list (saving the list of the window that
// was current) and returns the window that was current before, or null.
// A null window only reports the current one.
HWND GadgetListUse(HWND window);
// Subclass procedure of every window that has been a gadget list: forgets the
// window's saved list when the window is destroyed.
LRESULT CALLBACK GadgetListWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The common tail of every creation: marks the control with its number,
// subclasses it and gives it the gadget-list font. Returns the identity for
// OBJECT_ANY, otherwise the control.
intptr_t GadgetRegister(intptr_t number, Gadget* gadget, HWND control, const GadgetKind* kind);
// Subclass procedure of every gadget: releases the record when the control
// is destroyed.
LRESULT CALLBACK GadgetWindowProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);

// Hands a control notification that its parent received to the onMessage
// slot of the control's kind. MESSAGE_NOT_HANDLED when the control is no
// gadget or its kind has no handler.
LRESULT GadgetMessageForward(HWND control, HWND parent, UINT message, WPARAM wParam, LPARAM lParam);

// The number a control carries as a gadget, or -1 when it carries none.
intptr_t GadgetNumberOfControl(HWND control);

// Generic operations by number. A number without a gadget, or a kind without
// the operation, gives 0 or "" and changes nothing.
intptr_t GadgetDisable(intptr_t number, intptr_t state);
intptr_t GadgetGetState(intptr_t number);
String GadgetGetItemText(intptr_t number, intptr_t row, intptr_t extra);
intptr_t GadgetAddItem(intptr_t number, intptr_t position, const char* text, intptr_t extra, intptr_t extraFlags);
void GadgetClearItems(intptr_t number);
// Destroys the gadget's control; non-zero when the number had a gadget.
intptr_t GadgetFree(intptr_t number);
// Switches the control's painting off around a large fill and back on,
// repainting it once. Adding rows one by one with painting on costs a repaint
// per row. Non-zero when the number has a gadget.
intptr_t GadgetSetRedraw(intptr_t number, bool on);

// Solid brushes shared by reference count, one per colour.
HBRUSH BrushAcquire(COLORREF color);
void BrushRelease(HBRUSH brush);

// The kinds.
intptr_t GadgetCreateButton(intptr_t number, int32_t x, int32_t y, int32_t width, int32_t height, const char* text,
                            uint32_t flags);
intptr_t GadgetCreateListView(intptr_t number, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags);
LRESULT CALLBACK ListViewWindowProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);

// Posts a gadget event of the given type to the program window that owns the
// control (the nearest above it with WINDOW_NUMBER_PROPERTY); the event
// arrives when a wait of the window library dispatches it. Returns
// PostMessageA's answer, 0 when there is no control.
BOOL GadgetPostEvent(HWND control, int32_t type);
