// The stand-in's machinery: ledger, transcript, task queue, script and the strings it hands out.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "standin.h"

namespace standin {

namespace {

std::vector<Node*>& ledger() {
  static std::vector<Node*> nodes;
  return nodes;
}

const wchar_t kScriptVariable[] = L"MUVRA_WEBVIEW2_STANDIN_SCRIPT";

std::wstring scriptPath() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(kScriptVariable, path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

void writeLine(HANDLE file, const std::string& line) {
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

HANDLE transcript() {
  static HANDLE file = [] {
    const std::wstring script = scriptPath();
    return script.empty()
               ? INVALID_HANDLE_VALUE
               : CreateFileW((script + L".transcript").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                             nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }();
  return file;
}

// The thread the environment was created on: everything must happen there.
DWORD& creatingThread() {
  static DWORD thread = 0;
  return thread;
}

struct Task {
  std::function<void()> run;
  const Node* owner;
};

std::map<UINT_PTR, Task>& tasks() {
  static std::map<UINT_PTR, Task> waiting;
  return waiting;
}

void runTask(UINT_PTR id) {
  const auto found = tasks().find(id);
  if (found == tasks().end()) {
    return;  // dropped when its owner closed
  }
  const std::function<void()> run = std::move(found->second.run);
  tasks().erase(found);
  run();
}

LRESULT CALLBACK taskProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) {
    runTask(wParam);
    return 0;
  }
  if (message == WM_TIMER) {
    KillTimer(window, wParam);
    runTask(wParam);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND taskWindow() {
  static HWND window = [] {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &taskProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"MuvraWebView2StandinTasks";
    RegisterClassW(&windowClass);
    creatingThread() = GetCurrentThreadId();
    return CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           windowClass.hInstance, nullptr);
  }();
  return window;
}

// After the host's teardown: every object still referenced, or released once too often.
void reportLedger() {
  std::vector<std::string> problems;
  for (const Node* node : ledger()) {
    if (node->references > 0) {
      problems.push_back("ledger: " + node->name + " still has " +
                         std::to_string(node->references) + " references");
    }
    if (node->overReleased) {
      problems.push_back("ledger: " + node->name + " was released too often");
    }
  }
  if (problems.empty()) {
    note("ledger: clean, " + std::to_string(ledger().size()) + " objects");
  }
  for (const std::string& problem : problems) {
    note(problem);
    writeLine(GetStdHandle(STD_ERROR_HANDLE), "WebView2 stand-in " + problem);
  }
}

template <std::size_t Slot>
HRESULT STDMETHODCALLTYPE unimplemented(void* self) {
  note(static_cast<Face*>(self)->node->name + " slot " + std::to_string(Slot) + " E_NOTIMPL");
  return E_NOTIMPL;
}

template <std::size_t... Slots>
std::array<Stub, kMostSlots> stubsFor(std::index_sequence<Slots...>) {
  return {&unimplemented<Slots>...};
}

}  // namespace

Node::Node(std::string kindName, std::vector<const IID*> accepted, const void* table)
    : kind(std::move(kindName)), name(kind), interfaces(std::move(accepted)), face{table, this} {}

void enter(Node* node) {
  ledger().push_back(node);
  node->name += "#" + std::to_string(ledger().size());
}

void addReference(Node& node) {
  ++node.references;
}

void release(Node& node) {
  if (node.references <= 0) {
    node.overReleased = true;
    return;
  }
  if (--node.references == 0) {
    node.lastReleased();
  }
}

Ref::Ref(void* object) : object_(static_cast<IUnknown*>(object)) {
  if (object_ != nullptr) {
    object_->lpVtbl->AddRef(object_);
  }
}

Ref::~Ref() {
  if (object_ != nullptr) {
    object_->lpVtbl->Release(object_);
  }
}

void note(const std::string& line) {
  const bool elsewhere = creatingThread() != 0 && GetCurrentThreadId() != creatingThread();
  if (transcript() != INVALID_HANDLE_VALUE) {
    writeLine(transcript(), elsewhere ? "contract: on another thread: " + line : line);
  }
}

void later(std::function<void()> task, const Node* owner, unsigned milliseconds) {
  static UINT_PTR lastId = 0;
  const UINT_PTR id = ++lastId;
  tasks().emplace(id, Task{std::move(task), owner});
  if (milliseconds == 0) {
    PostMessageW(taskWindow(), WM_APP, id, 0);
  } else {
    SetTimer(taskWindow(), id, milliseconds, nullptr);
  }
}

void dropTasksOf(const Node* owner) {
  std::erase_if(tasks(), [owner](const auto& entry) { return entry.second.owner == owner; });
}

std::string narrow(LPCWSTR text) {
  if (text == nullptr) {
    return {};
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string bytes(size > 0 ? size - 1 : 0, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), size, nullptr, nullptr);
  return bytes;
}

std::wstring widen(const std::string& text) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring units(size > 0 ? size - 1 : 0, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, units.data(), size);
  return units;
}

HRESULT giveString(const std::string& text, LPWSTR* out) {
  if (out == nullptr) {
    return E_POINTER;
  }
  const std::wstring units = widen(text);
  *out = static_cast<LPWSTR>(CoTaskMemAlloc((units.size() + 1) * sizeof(wchar_t)));
  if (*out == nullptr) {
    return E_OUTOFMEMORY;
  }
  std::memcpy(*out, units.c_str(), (units.size() + 1) * sizeof(wchar_t));
  return S_OK;
}

std::string hexCode(HRESULT code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
  return text;
}

std::string quoted(const std::string& text) {
  std::string line;
  for (const char c : text) {
    line += c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\\' ? "\\\\" : std::string(1, c);
  }
  return line;
}

const std::vector<std::string>& scriptLines() {
  static const std::vector<std::string> lines = [] {
    std::vector<std::string> read;
    const std::wstring path = scriptPath();
    if (path.empty()) {
      return read;
    }
    std::ifstream file{std::filesystem::path(path)};
    for (std::string line; std::getline(file, line);) {
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      if (!line.empty() && line.front() != '#') {
        read.push_back(line);
      }
    }
    return read;
  }();
  return lines;
}

std::string directive(const std::string& name) {
  for (const std::string& line : scriptLines()) {
    if (line.starts_with(name + " ")) {
      return line.substr(name.size() + 1);
    }
  }
  return {};
}

HRESULT queryInterface(void* self, REFIID iid, void** out) {
  if (out == nullptr) {
    return E_POINTER;
  }
  Node& node = *static_cast<Face*>(self)->node;
  for (const IID* accepted : node.interfaces) {
    if (IsEqualIID(iid, *accepted) || IsEqualIID(iid, IID_IUnknown)) {
      addReference(node);
      *out = &node.face;
      return S_OK;
    }
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

const std::array<Stub, kMostSlots>& unimplementedStubs() {
  static const std::array<Stub, kMostSlots> stubs =
      stubsFor(std::make_index_sequence<kMostSlots>());
  return stubs;
}

}  // namespace standin

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_DETACH) {
    standin::reportLedger();
  }
  return TRUE;
}
