// The push button. Its clicks need no handler here: the parent window turns
// the BN_CLICKED notification into a gadget event itself.
#include "gadget/gadget.h"
#include "gadget/gadget_state.h"

namespace {

// WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP; with no further flags a
// plain push button (BS_PUSHBUTTON is 0).
constexpr DWORD BUTTON_STYLE = 0x50030000;

intptr_t ButtonGetState(Gadget* gadget) {
  return SendMessageA(gadget->window, BM_GETCHECK, 0, 0) & 1;
}

intptr_t ButtonSetState(Gadget* gadget, intptr_t value) {
  return SendMessageA(gadget->window, BM_SETCHECK, value != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
}

constexpr GadgetKind BUTTON_KIND = {
    .kindId = GADGET_KIND_BUTTON,
    .getState = ButtonGetState,
    .setState = ButtonSetState,
};

}  // namespace

intptr_t GadgetCreateButton(intptr_t number, int32_t x, int32_t y, int32_t width, int32_t height, const char* text,
                            uint32_t flags) {
  if (text == nullptr) text = "";
  HWND control = GadgetCreateControl(number, 0, "Button", text, flags | BUTTON_STYLE, x, y, width, height);
  if (control == nullptr) return 0;
  Gadget* gadget = GadgetAllocate(number, control);
  if (gadget == nullptr) return 0;
  return GadgetRegister(number, gadget, control, &BUTTON_KIND);
}
