#pragma once

// A stand-in for the WebView2 runtime, for tests under Wine only: it keeps the documented
// contract of the objects the launcher's host calls and writes down every call. Built with
// CINTERFACE, so every interface is a C table of functions the stand-in fills itself.

#include <windows.h>

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "WebView2.h"

namespace standin {

struct Node;

// What a COM pointer of the stand-in points at: the interface's table and the object behind it.
struct Face {
  const void* table;
  Node* node;
};

// One object of the stand-in and its entry in the ledger of references. Objects are never
// freed, so a release too many is recorded instead of touching freed memory.
struct Node {
  Node(std::string kind, std::vector<const IID*> interfaces, const void* table);
  virtual ~Node() = default;
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  // Called once, when the last reference goes: let go of what the object holds.
  virtual void lastReleased() {}

  template <typename Interface>
  Interface* as() {
    return reinterpret_cast<Interface*>(&face);
  }

  std::string kind;  // "view"
  std::string name;  // kind and number in the ledger: "view#3"
  long references = 1;
  bool overReleased = false;
  std::vector<const IID*> interfaces;
  Face face;
};

template <typename T>
T& nodeOf(const void* self) {
  return static_cast<T&>(*static_cast<const Face*>(self)->node);
}

void enter(Node* node);

// A new object, entered in the ledger with the one reference its creator holds.
template <typename T, typename... Arguments>
T& make(Arguments&&... arguments) {
  T* node = new T(std::forward<Arguments>(arguments)...);
  enter(node);
  return *node;
}

void addReference(Node& node);
void release(Node& node);

// A counted reference to a COM object, the host's or the stand-in's.
class Ref {
 public:
  Ref() = default;
  explicit Ref(void* object);  // adds a reference
  Ref(const Ref& other) : Ref(other.object_) {}
  Ref& operator=(Ref other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~Ref();

  template <typename Interface>
  Interface* get() const {
    return reinterpret_cast<Interface*>(object_);
  }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  IUnknown* object_ = nullptr;
};

// The transcript: one line for each call the host made and each event the stand-in raised.
void note(const std::string& line);
// Runs `task` later on the thread that created the environment, through its message queue;
// a task of an `owner` is dropped when the owner closes.
void later(std::function<void()> task, const Node* owner = nullptr, unsigned milliseconds = 0);
void dropTasksOf(const Node* owner);

std::string narrow(LPCWSTR text);
std::wstring widen(const std::string& text);
// A copy the caller frees with CoTaskMemFree, as the runtime's strings are.
HRESULT giveString(const std::string& text, LPWSTR* out);
std::string hexCode(HRESULT code);
std::string quoted(const std::string& text);  // on one line: CR, LF and backslash escaped

// The tests' script: one directive per line, read once from the file the environment
// variable MUVRA_WEBVIEW2_STANDIN_SCRIPT names.
const std::vector<std::string>& scriptLines();
// The value of the first directive `name value`, if the script has one.
std::string directive(const std::string& name);

HRESULT queryInterface(void* self, REFIID iid, void** out);

// The table of a stand-in interface: every method records its slot and answers E_NOTIMPL,
// IUnknown's three are the stand-in's; the object fills what it implements.
using Stub = HRESULT(STDMETHODCALLTYPE*)(void*);
inline constexpr std::size_t kMostSlots = 96;
const std::array<Stub, kMostSlots>& unimplementedStubs();

template <typename Table>
Table stubbed() {
  static_assert(sizeof(Table) % sizeof(void*) == 0 && sizeof(Table) / sizeof(void*) <= kMostSlots);
  Table table;
  std::memcpy(static_cast<void*>(&table), unimplementedStubs().data(), sizeof table);
  table.QueryInterface = [](auto* self, REFIID iid, void** out) {
    return queryInterface(self, iid, out);
  };
  table.AddRef = [](auto* self) -> ULONG {
    addReference(*static_cast<Face*>(static_cast<void*>(self))->node);
    return static_cast<Face*>(static_cast<void*>(self))->node->references;
  };
  table.Release = [](auto* self) -> ULONG {
    Node& node = *static_cast<Face*>(static_cast<void*>(self))->node;
    release(node);
    return node.references > 0 ? node.references : 0;
  };
  return table;
}

// Writes a `width` × `height` image of one colour as a PNG file into `stream`.
HRESULT writePng(IStream* stream, int width, int height, COLORREF colour);

// SHA-256 of `bytes` as lowercase hex.
std::string sha256Hex(const std::string& bytes);

}  // namespace standin
