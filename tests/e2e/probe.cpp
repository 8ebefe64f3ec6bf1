// A test-only look at another program's windows, from the same Wine session:
// what a user could see on the screen, read as text, so the end-to-end tests
// can compare it. It never changes the windows it looks at.
//
//   probe window TITLE               "found" once a visible top-level window has that title
//   probe rows TITLE                 each row of the window's list box, as hex, one per line
//   probe controls TITLE             one line per child: id enabled visible focused x y w h
//   probe center TITLE ID            screen coordinates of the middle of control ID
//   probe client TITLE               x y w h of the window's client area on the screen
//   probe rect TITLE                 x y w h of the whole window on the screen
//   probe row TITLE ROW              screen coordinates of the middle of list row ROW
//   probe foreground                 the foreground window's title, as hex
//   probe answer TITLE               milliseconds the window's thread takes to answer a message
//                                    (exit code 1 when it has not answered within 10 s)
//
// TITLE is given as hex bytes (Windows-1252), so the shell never re-encodes it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string FromHex(const char* hex) {
  std::string bytes;
  for (size_t i = 0; hex[i] != 0 && hex[i + 1] != 0; i += 2) {
    char pair[3] = {hex[i], hex[i + 1], 0};
    bytes.push_back(static_cast<char>(strtoul(pair, nullptr, 16)));
  }
  return bytes;
}

std::string ToHex(const std::string& bytes) {
  std::string hex;
  char pair[3];
  for (unsigned char c : bytes) {
    snprintf(pair, sizeof pair, "%02x", c);
    hex += pair;
  }
  return hex;
}

struct Search {
  std::string title;
  HWND found;
};

BOOL CALLBACK MatchTitle(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  if (IsWindowVisible(window) && search->title == text) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindTopLevel(const char* hexTitle) {
  Search search{FromHex(hexTitle), nullptr};
  EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM data) {
  reinterpret_cast<std::vector<HWND>*>(data)->push_back(child);
  return TRUE;
}

std::vector<HWND> Children(HWND window) {
  std::vector<HWND> children;
  EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

// Rows are read as wide text (the list box converts for us across processes)
// and turned back into the ANSI bytes the program stored.
HWND FindListBox(HWND window) {
  for (HWND child : Children(window)) {
    char className[64] = {};
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "ListBox") == 0) return child;
  }
  return nullptr;
}

int PrintRows(HWND window) {
  if (HWND child = FindListBox(window)) {
    LRESULT count = SendMessageW(child, LB_GETCOUNT, 0, 0);
    for (LRESULT row = 0; row < count; row++) {
      LRESULT length = SendMessageW(child, LB_GETTEXTLEN, row, 0);
      std::vector<wchar_t> wide(length + 1);
      SendMessageW(child, LB_GETTEXT, row, reinterpret_cast<LPARAM>(wide.data()));
      int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), int(length), nullptr, 0, nullptr, nullptr);
      std::string text(bytes, '\0');
      WideCharToMultiByte(CP_ACP, 0, wide.data(), int(length), text.data(), bytes, nullptr, nullptr);
      printf("%s\n", ToHex(text).c_str());
    }
    return 0;
  }
  fprintf(stderr, "probe: no list box\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string verb = argv[1];
  if (verb == "foreground") {
    char text[512] = {};
    GetWindowTextA(GetForegroundWindow(), text, sizeof text);
    printf("%s\n", ToHex(text).c_str());
    return 0;
  }
  if (argc < 3) return 2;
  HWND window = FindTopLevel(argv[2]);
  if (window == nullptr) {
    fprintf(stderr, "probe: no window\n");
    return 1;
  }
  if (verb == "window") {
    printf("found\n");
    return 0;
  }
  if (verb == "rows") return PrintRows(window);
  if (verb == "answer") {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    DWORD_PTR reply = 0;
    LRESULT answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &reply);
    QueryPerformanceCounter(&end);
    printf("%.1f\n", double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart));
    return answered != 0 ? 0 : 1;
  }
  if (verb == "client") {
    RECT r;
    GetClientRect(window, &r);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    printf("%ld %ld %ld %ld\n", origin.x, origin.y, r.right, r.bottom);
    return 0;
  }
  if (verb == "rect") {
    RECT r;
    GetWindowRect(window, &r);
    printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return 0;
  }
  if (verb == "controls") {
    HWND focus = FocusOf(window);
    for (HWND child : Children(window)) {
      RECT r;
      GetWindowRect(child, &r);
      printf("%ld %d %d %d %ld %ld %ld %ld\n", GetWindowLongA(child, GWL_ID), IsWindowEnabled(child) ? 1 : 0,
             IsWindowVisible(child) ? 1 : 0, child == focus ? 1 : 0, r.left, r.top, r.right - r.left,
             r.bottom - r.top);
    }
    return 0;
  }
  if (verb == "row" && argc >= 4) {
    HWND list = FindListBox(window);
    if (list == nullptr) return 1;
    // Only messages without pointers: they cross process borders as they are.
    LRESULT height = SendMessageW(list, LB_GETITEMHEIGHT, 0, 0);
    LRESULT top = SendMessageW(list, LB_GETTOPINDEX, 0, 0);
    POINT at{20, LONG((atoi(argv[3]) - top) * height + height / 2)};
    ClientToScreen(list, &at);
    printf("%ld %ld\n", at.x, at.y);
    return 0;
  }
  if (verb == "center" && argc >= 4) {
    HWND control = GetDlgItem(window, atoi(argv[3]));
    if (control == nullptr) return 1;
    RECT r;
    GetWindowRect(control, &r);
    printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    return 0;
  }
  return 2;
}
