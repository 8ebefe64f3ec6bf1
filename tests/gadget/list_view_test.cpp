// The list view's operations against a real list box: rows, selection in
// both modes, texts of any length, data values, colours and brushes, and the
// notifications it turns into posted gadget events.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "gadget/gadget.h"
#include "tests/gadget/gadget_test_support.h"

namespace {

const LRESULT NOT_HANDLED = static_cast<LRESULT>(MESSAGE_NOT_HANDLED);

class ListViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host = HostWindowOpen();
    ASSERT_NE(host, nullptr);
  }
  void TearDown() override {
    if (IsWindow(host)) DestroyWindow(host);
    MessagesPump();
  }

  // List view `number` on the host; its record (valid until the next creation).
  Gadget* Open(intptr_t number, uint32_t flags = 0) {
    if (GadgetCreateListView(number, 10, 40, 410, 450, flags) == 0) return nullptr;
    return GadgetGet(number);
  }
  static std::vector<std::string> Rows(intptr_t number) {
    std::vector<std::string> rows;
    Gadget* gadget = GadgetGet(number);
    intptr_t count = gadget->kind->countItems(gadget);
    for (intptr_t row = 0; row < count; row++) rows.emplace_back(GadgetGetItemText(number, row, 0).Text());
    return rows;
  }

  HWND host = nullptr;
};

TEST_F(ListViewTest, CreationGivesTheListBoxItsStylesAndProcedures) {
  Gadget* gadget = Open(3);
  ASSERT_NE(gadget, nullptr);
  char className[32] = {};
  GetClassNameA(gadget->window, className, sizeof className);
  EXPECT_STREQ(className, "ListBox");
  // The list box drops its scroll bar styles while it needs no scroll bar.
  const LONG scrollBars = WS_VSCROLL | WS_HSCROLL;
  EXPECT_EQ(GetWindowLongA(gadget->window, GWL_STYLE) & ~scrollBars, LONG(0x50330141 & ~scrollBars));
  EXPECT_TRUE(GetWindowLongA(gadget->window, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  RECT frame;
  GetWindowRect(gadget->window, &frame);
  EXPECT_EQ(frame.bottom - frame.top, 450) << "no rounding to whole rows";
  EXPECT_EQ(GetWindowLongPtrW(gadget->window, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(GadgetWindowProc));
  EXPECT_EQ(gadget->previousProc, ListViewWindowProc);
  EXPECT_EQ(gadget->kind->kindId, GADGET_KIND_LIST_VIEW);
  EXPECT_EQ(gadget->backColor, -1);
  EXPECT_EQ(gadget->frontColor, -1);
  EXPECT_EQ(gadget->backBrush, nullptr);

  // Every slot of the list view is filled, except addItemEx and the reserved ones.
  const GadgetKind* kind = gadget->kind;
  EXPECT_TRUE(kind->onMessage && kind->onDestroy && kind->getState && kind->setState && kind->getText &&
              kind->setText && kind->addItem && kind->removeItem && kind->clearItems && kind->countItems &&
              kind->getItemState && kind->setItemState && kind->getItemText && kind->setItemText && kind->setColor &&
              kind->getColor && kind->setItemData && kind->getItemData);
  EXPECT_EQ(kind->addItemEx, nullptr);
}

TEST_F(ListViewTest, RowsKeepInsertionOrderAndTheirWholeText) {
  ASSERT_NE(Open(3), nullptr);
  std::string allBytes;
  for (int byte = 1; byte < 256; byte++) allBytes.push_back(char(byte));
  std::string longRow(10000, 'x');
  const std::string pattern = "Sicherung ausw\xE4hlen \xC4\xD6\xDC\xDF\x80";
  for (size_t i = 0; i < longRow.size(); i++) longRow[i] = pattern[i % pattern.size()];
  std::string longerRow = std::string(10000, '\xE9') + "Ende";
  const std::vector<std::string> added = {"zwei", "Eins", "drei", longRow, "", allBytes, longerRow, "a"};
  for (const std::string& text : added) EXPECT_EQ(GadgetAddItem(3, -1, text.c_str(), 0, 0), 0);
  GadgetAddItem(3, -1, nullptr, 0, 0);
  std::vector<std::string> expected = added;
  expected.push_back("");
  std::vector<std::string> rows = Rows(3);
  ASSERT_EQ(rows.size(), expected.size());
  for (size_t row = 0; row < rows.size(); row++) {
    // Compared without printing ten thousand bytes on a mismatch.
    EXPECT_EQ(rows[row].size(), expected[row].size()) << "row " << row;
    EXPECT_TRUE(rows[row] == expected[row]) << "row " << row;
  }

  // A position inserts before that row.
  GadgetAddItem(3, 1, "vorne", 0, 0);
  EXPECT_EQ(GadgetGetItemText(3, 1, 0).Length(), 5u);
  EXPECT_STREQ(GadgetGetItemText(3, 1, 0).Text(), "vorne");
  EXPECT_STREQ(GadgetGetItemText(3, 2, 0).Text(), "Eins");

  const intptr_t missing[] = {-1, 10, 11, 1000, -7};
  for (intptr_t row : missing) EXPECT_STREQ(GadgetGetItemText(3, row, 0).Text(), "") << row;
}

TEST_F(ListViewTest, SingleSelection) {
  Gadget* gadget = Open(3);
  ASSERT_NE(gadget, nullptr);
  EXPECT_EQ(GadgetGetState(3), -1) << "an empty list";
  for (const char* row : {"a", "b", "c"}) GadgetAddItem(3, -1, row, 0, 0);
  EXPECT_EQ(GadgetGetState(3), -1) << "no row selected";
  EXPECT_STREQ(gadget->kind->getText(gadget).Text(), "");
  gadget->kind->setState(gadget, 2);
  EXPECT_EQ(GadgetGetState(3), 2);
  EXPECT_STREQ(gadget->kind->getText(gadget).Text(), "c");
  EXPECT_GT(gadget->kind->getItemState(gadget, 2), 0);
  EXPECT_EQ(gadget->kind->getItemState(gadget, 0), 0);
  EXPECT_EQ(gadget->kind->getItemState(gadget, 9), LB_ERR);
  gadget->kind->setState(gadget, -1);
  EXPECT_EQ(GadgetGetState(3), -1);

  // Found by its whole text, in any letter case; no match clears the selection.
  EXPECT_EQ(gadget->kind->setText(gadget, "B"), 1);
  EXPECT_EQ(GadgetGetState(3), 1);
  EXPECT_EQ(gadget->kind->setText(gadget, "bb"), LB_ERR);
  EXPECT_EQ(GadgetGetState(3), -1);

  gadget->kind->setState(gadget, 0);
  GadgetClearItems(3);
  EXPECT_EQ(gadget->kind->countItems(gadget), 0);
  EXPECT_EQ(GadgetGetState(3), -1) << "clearing drops the selection";
  GadgetAddItem(3, -1, "neu", 0, 0);
  EXPECT_EQ(GadgetGetState(3), -1);
}

TEST_F(ListViewTest, MultipleSelection) {
  const uint32_t modes[] = {LBS_MULTIPLESEL, LBS_EXTENDEDSEL};
  for (uint32_t mode : modes) {
    SCOPED_TRACE(mode);
    Gadget* gadget = Open(4, mode);
    ASSERT_NE(gadget, nullptr);
    for (const char* row : {"a", "b", "c", "d"}) GadgetAddItem(4, -1, row, 0, 0);
    EXPECT_EQ(GadgetGetState(4), -1);
    gadget->kind->setItemState(gadget, 3, 1);
    gadget->kind->setItemState(gadget, 1, 1);
    EXPECT_EQ(GadgetGetState(4), 1) << "the lowest selected row";
    gadget->kind->setItemState(gadget, 1, 0);
    EXPECT_EQ(GadgetGetState(4), 3);
    gadget->kind->setState(gadget, 2);
    EXPECT_EQ(gadget->kind->getItemState(gadget, 3), 0) << "setState selects that row alone";
    EXPECT_GT(gadget->kind->getItemState(gadget, 2), 0);
    EXPECT_EQ(GadgetGetState(4), 2);
    gadget->kind->setState(gadget, -1);
    EXPECT_EQ(GadgetGetState(4), -1);
    GadgetFree(4);
  }
}

TEST_F(ListViewTest, RowTextAndDataChanges) {
  Gadget* gadget = Open(3);
  ASSERT_NE(gadget, nullptr);
  for (const char* row : {"a", "b", "c"}) GadgetAddItem(3, -1, row, 0, 0);
  EXPECT_EQ(gadget->kind->getItemData(gadget, 1), 0) << "0 unless set";
  gadget->kind->setItemData(gadget, 1, 0x12345678);
  EXPECT_NE(gadget->kind->setItemText(gadget, 1, "B", 0), LB_ERR);
  EXPECT_EQ(Rows(3), (std::vector<std::string>{"a", "B", "c"}));
  EXPECT_EQ(gadget->kind->getItemData(gadget, 1), 0x12345678) << "the data value stays with the row";
  EXPECT_EQ(gadget->kind->setItemText(gadget, 3, "x", 0), -1);
  EXPECT_EQ(gadget->kind->setItemText(gadget, -1, "x", 0), -1);
  EXPECT_EQ(Rows(3), (std::vector<std::string>{"a", "B", "c"}));

  EXPECT_EQ(gadget->kind->removeItem(gadget, 0), 2) << "rows left";
  EXPECT_EQ(gadget->kind->removeItem(gadget, 5), LB_ERR);
  EXPECT_EQ(Rows(3), (std::vector<std::string>{"B", "c"}));
}

TEST_F(ListViewTest, ManyRowsWithPaintingSwitchedOff) {
  Gadget* gadget = Open(3);
  ASSERT_NE(gadget, nullptr);
  EXPECT_NE(GadgetSetRedraw(3, false), 0);
  char text[32];
  for (int row = 0; row < 20000; row++) {
    snprintf(text, sizeof text, "Datei %05d", 19999 - row);
    GadgetAddItem(3, -1, text, 0, 0);
  }
  EXPECT_NE(GadgetSetRedraw(3, true), 0);
  gadget = GadgetGet(3);
  EXPECT_EQ(gadget->kind->countItems(gadget), 20000);
  EXPECT_STREQ(GadgetGetItemText(3, 0, 0).Text(), "Datei 19999");
  EXPECT_STREQ(GadgetGetItemText(3, 19999, 0).Text(), "Datei 00000");
  EXPECT_TRUE(IsWindowVisible(gadget->window)) << "painting is back on";
  RECT dirty;
  EXPECT_TRUE(GetUpdateRect(gadget->window, &dirty, FALSE)) << "and the control repaints once";
}

TEST_F(ListViewTest, ColoursAndTheirReplies) {
  Gadget* gadget = Open(3);
  ASSERT_NE(gadget, nullptr);
  HDC dc = GetDC(gadget->window);
  auto colorMessage = [&] {
    return GadgetMessageForward(gadget->window, host, WM_CTLCOLORLISTBOX, reinterpret_cast<WPARAM>(dc),
                                reinterpret_cast<LPARAM>(gadget->window));
  };
  EXPECT_EQ(colorMessage(), NOT_HANDLED) << "system colours stay";
  EXPECT_EQ(gadget->kind->getColor(gadget, GADGET_COLOR_TEXT), -1);
  EXPECT_EQ(gadget->kind->getColor(gadget, GADGET_COLOR_BACKGROUND), -1);
  EXPECT_EQ(gadget->kind->getColor(gadget, 3), -1);

  gadget->kind->setColor(gadget, GADGET_COLOR_TEXT, 0x0000FF);
  EXPECT_EQ(gadget->kind->getColor(gadget, GADGET_COLOR_TEXT), 0x0000FF);
  EXPECT_EQ(colorMessage(), reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNHIGHLIGHT)));
  EXPECT_EQ(GetTextColor(dc), COLORREF(0x0000FF));
  EXPECT_EQ(GetBkColor(dc), GetSysColor(COLOR_BTNHIGHLIGHT));

  gadget->kind->setColor(gadget, GADGET_COLOR_BACKGROUND, 0x336699);
  EXPECT_EQ(gadget->kind->getColor(gadget, GADGET_COLOR_BACKGROUND), 0x336699);
  ASSERT_NE(gadget->backBrush, nullptr);
  EXPECT_EQ(colorMessage(), reinterpret_cast<LRESULT>(gadget->backBrush));
  EXPECT_EQ(GetBkColor(dc), COLORREF(0x336699));

  gadget->kind->setColor(gadget, GADGET_COLOR_TEXT, -1);
  gadget->kind->setColor(gadget, 7, 0x123456);
  EXPECT_EQ(gadget->kind->getColor(gadget, GADGET_COLOR_BACKGROUND), 0x336699) << "unknown which changes nothing";
  EXPECT_EQ(colorMessage(), reinterpret_cast<LRESULT>(gadget->backBrush));
  HBRUSH brush = gadget->backBrush;
  gadget->kind->setColor(gadget, GADGET_COLOR_BACKGROUND, -1);
  EXPECT_EQ(gadget->backBrush, nullptr);
  EXPECT_EQ(GetObjectType(brush), 0u) << "its only user let go";
  EXPECT_EQ(colorMessage(), NOT_HANDLED);
  ReleaseDC(gadget->window, dc);
}

TEST_F(ListViewTest, ListViewsOfOneColourShareOneBrush) {
  ASSERT_NE(Open(3), nullptr);
  ASSERT_NE(Open(4), nullptr);
  ASSERT_NE(Open(5), nullptr);
  GadgetGet(3)->kind->setColor(GadgetGet(3), GADGET_COLOR_BACKGROUND, 0x00C0FFEE & 0xFFFFFF);
  GadgetGet(4)->kind->setColor(GadgetGet(4), GADGET_COLOR_BACKGROUND, 0x00C0FFEE & 0xFFFFFF);
  GadgetGet(5)->kind->setColor(GadgetGet(5), GADGET_COLOR_BACKGROUND, 0x000080);
  HBRUSH shared = GadgetGet(3)->backBrush;
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(GadgetGet(4)->backBrush, shared);
  EXPECT_NE(GadgetGet(5)->backBrush, shared);
  EXPECT_EQ(GetObjectType(shared), DWORD(OBJ_BRUSH));

  GadgetFree(3);
  EXPECT_EQ(GetObjectType(shared), DWORD(OBJ_BRUSH)) << "list view 4 still paints with it";
  HBRUSH other = GadgetGet(5)->backBrush;
  GadgetFree(4);
  EXPECT_EQ(GetObjectType(shared), 0u) << "deleted after the second release";
  EXPECT_EQ(GetObjectType(other), DWORD(OBJ_BRUSH));
  DestroyWindow(host);
  EXPECT_EQ(GetObjectType(other), 0u) << "released when destroyed with its window";

  // The same colour later gets a brush of its own again.
  host = HostWindowOpen();
  Gadget* gadget = Open(3);
  gadget->kind->setColor(gadget, GADGET_COLOR_BACKGROUND, 0x00C0FFEE & 0xFFFFFF);
  EXPECT_EQ(GetObjectType(gadget->backBrush), DWORD(OBJ_BRUSH));
}

TEST_F(ListViewTest, BrushCacheCountsReferences) {
  HBRUSH first = BrushAcquire(0x010203);
  HBRUSH second = BrushAcquire(0x010203);
  HBRUSH different = BrushAcquire(0x030201);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  EXPECT_NE(first, different);
  BrushRelease(first);
  EXPECT_EQ(GetObjectType(first), DWORD(OBJ_BRUSH));
  BrushRelease(second);
  EXPECT_EQ(GetObjectType(first), 0u);
  BrushRelease(first);  // no longer cached: nothing happens
  BrushRelease(nullptr);
  EXPECT_EQ(GetObjectType(different), DWORD(OBJ_BRUSH));
  BrushRelease(different);
}

TEST_F(ListViewTest, NotificationsBecomePostedGadgetEvents) {
  Gadget* gadget = Open(3);
  ASSERT_NE(gadget, nullptr);
  HWND control = gadget->window;
  MessagesPump();
  struct Case {
    WORD notification;
    int32_t type;  // -1: nothing posted
  };
  const Case cases[] = {{LBN_SELCHANGE, EVENT_TYPE_CLICK},
                        {LBN_DBLCLK, EVENT_TYPE_DOUBLE_CLICK},
                        {LBN_SETFOCUS, -1},
                        {LBN_KILLFOCUS, -1},
                        {LBN_SELCANCEL, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.notification);
    EXPECT_EQ(GadgetMessageForward(control, host, WM_COMMAND, MAKEWPARAM(3, c.notification),
                                   reinterpret_cast<LPARAM>(control)),
              0)
        << "answered: the window makes no event of its own";
    MSG posted;
    bool found = PeekMessageA(&posted, host, GADGET_EVENT_MESSAGE, GADGET_EVENT_MESSAGE, PM_REMOVE);
    if (c.type == -1) {
      EXPECT_FALSE(found);
      continue;
    }
    ASSERT_TRUE(found);
    EXPECT_EQ(posted.wParam, WPARAM(3));
    EXPECT_EQ(posted.lParam, LPARAM(c.type));
  }
  EXPECT_EQ(GadgetMessageForward(control, host, WM_CTLCOLORBTN, 0, reinterpret_cast<LPARAM>(control)), NOT_HANDLED);
}

}  // namespace
