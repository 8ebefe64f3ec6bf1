// Values shared by the window, gadget and application layers.
#pragma once

#include <cstdint>

constexpr int32_t EVENT_GADGET = 13100;
constexpr int32_t EVENT_CLOSE_WINDOW = 16;

constexpr int32_t EVENT_TYPE_CLICK = 0;
constexpr int32_t EVENT_TYPE_DOUBLE_CLICK = 2;
constexpr int32_t EVENT_TYPE_DRAG_START = 14002;

// The reply by which a message handler leaves a window message to the
// platform's default handling.
constexpr uint32_t MESSAGE_NOT_HANDLED = 0xD0D0D0D1u;

// Private window message by which a control posts a gadget event to the
// window that owns it: wParam the gadget number, lParam the event type.
constexpr uint32_t GADGET_EVENT_MESSAGE = 13103;

// Named property of every open program window: its number plus one, so that
// window 0 is told apart from a window without the property. A control's
// event goes to the nearest window above it that carries it.
constexpr const char* WINDOW_NUMBER_PROPERTY = "WindowLibrary.WindowNumber";
