// Loading Quiver.dll and Quiverx.dll and creating their objects.
#include <atomic>
#include <mutex>
#include <string>

#include "common/hresult.h"
#include "common/locations.h"
#include "common/text.h"
#include "containers/container_binding.h"

namespace zv {
namespace {

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

constexpr wchar_t kCaptionError[] = L"错误";
constexpr wchar_t kCaptionFileNotFound[] = L"错误：文件没找到！";
constexpr wchar_t kMissingGetClassObject[] = L"获取 DataX.dll 中的 DllGetClassObject 函数地址失败！";
constexpr wchar_t kFactoryFailed[] = L"创建CDataX类工厂失败！";

std::atomic<HMODULE> quiverModule{nullptr};
std::atomic<LONG> quiverUses{0};
std::atomic<MessageBoxFunction> messageBox{&::MessageBoxW};

// Quiverx and its factory stay loaded for the rest of the process. The state
// is never destroyed, so nothing is released into a library that the process
// exit may already have shut down.
struct DataXLoader {
  std::mutex lock;
  HMODULE quiverx = nullptr;
  HMODULE jscriptPin = nullptr;
  ComPtr<IClassFactory> dataXFactory;
  ComPtr<IDispatchEx> nameTable;
};

DataXLoader& Loader() {
  static DataXLoader* loader = new DataXLoader();
  return *loader;
}

// A message for the user, shown once the loader's lock is released.
struct LoaderMessage {
  std::wstring text;
  const wchar_t* caption = nullptr;
};

void Show(const LoaderMessage& message) {
  messageBox.load()(nullptr, message.text.c_str(), message.caption, MB_OK | MB_ICONERROR);
}

template <typename Function>
Function Export(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(::GetProcAddress(module, name));
}

// Scripts that read our objects run on jscript.dll; once they are in use it
// must not be unloaded under them.
void PinJscript(DataXLoader& loader) {
  if (loader.jscriptPin || !::GetModuleHandleW(L"jscript.dll")) return;
  ::GetModuleHandleExW(0, L"jscript.dll", &loader.jscriptPin);
}

// Quiverx.dll from the folder of this module; failing that, beside the
// program or in the system folder. The current directory is never searched:
// any folder the user opens could otherwise plant a library in the host.
bool LoadQuiverx(DataXLoader& loader, LoaderMessage* message) {
  const std::wstring path = ModuleFilePath(CurrentModule(), L"..\\Quiverx.dll");
  HMODULE module = nullptr;
  if (PathExists(path)) {
    module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
      const DWORD error = ::GetLastError();
      message->text = Format(L"LoadLibrary(%ls) 调用失败！\nErrorCode = %d", path.c_str(), static_cast<int>(error));
      message->caption = kCaptionError;
      return false;
    }
  } else {
    module = ::LoadLibraryExW(L"Quiverx.dll", nullptr,
                              LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module) {
      message->text = path;
      message->caption = kCaptionFileNotFound;
      return false;
    }
  }
  loader.quiverx = module;
  PinJscript(loader);
  return true;
}

// The class factory for clsid; CDataX's is cached for the rest of the process.
ComPtr<IClassFactory> FactoryFor(REFCLSID clsid, LoaderMessage* message) {
  DataXLoader& loader = Loader();
  std::lock_guard<std::mutex> guard(loader.lock);
  if (!loader.quiverx && !LoadQuiverx(loader, message)) return {};
  const bool dataX = clsid == kClsidDataX;
  if (dataX && loader.dataXFactory) return loader.dataXFactory;
  const auto getClassObject = Export<GetClassObjectFunction>(loader.quiverx, "DllGetClassObject");
  if (!getClassObject) {
    message->text = kMissingGetClassObject;
    message->caption = kCaptionError;
    return {};
  }
  ComPtr<IClassFactory> factory;
  if (FAILED(getClassObject(clsid, IID_IClassFactory, factory.put_void())) || !factory) {
    message->text = kFactoryFailed;
    message->caption = kCaptionError;
    return {};
  }
  if (dataX) loader.dataXFactory = factory;
  return factory;
}

ComPtr<IDispatchEx> PropertyNameTable() {
  DataXLoader& loader = Loader();
  {
    std::lock_guard<std::mutex> guard(loader.lock);
    if (loader.nameTable) return loader.nameTable;
  }
  ComPtr<IDispatchEx> table = NewDataX(kClsidPropertyNameTable);
  if (!table) return {};
  std::lock_guard<std::mutex> guard(loader.lock);
  if (!loader.nameTable) loader.nameTable = table;
  return loader.nameTable;
}

// Quiver.dll beside the program; a script client's program (the script host
// in the system folder) has none there, so then beside this module.
HMODULE LoadQuiverModule() {
  HMODULE module = ::LoadLibraryExW(ProgramFilePath(L"..\\Quiver.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module) return module;
  return ::LoadLibraryExW(ModuleFilePath(CurrentModule(), L"..\\Quiver.dll").c_str(), nullptr,
                          LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

void LoadQuiver() {
  if (!quiverModule.load()) {
    HMODULE module = LoadQuiverModule();
    if (!module) return;
    HMODULE expected = nullptr;
    if (!quiverModule.compare_exchange_strong(expected, module)) ::FreeLibrary(module);
  }
  ++quiverUses;
}

void UnloadQuiver() {
  HMODULE module = quiverModule.load();
  if (!module) return;
  LONG uses = quiverUses.load();
  do {
    if (uses <= 0) return;
  } while (!quiverUses.compare_exchange_weak(uses, uses - 1));
  const auto canUnloadNow = Export<CanUnloadNowFunction>(module, "DllCanUnloadNow");
  const HRESULT answer = canUnloadNow ? canUnloadNow() : S_FALSE;
  // Freeing the library while one of its containers lives would leave that
  // object's code unmapped; such a library stays loaded.
  if (uses - 1 == 0 && answer == S_OK && quiverModule.compare_exchange_strong(module, nullptr)) {
    ::FreeLibrary(module);
  }
}

ComPtr<IQuiverItem> NewContainer() {
  const HMODULE module = quiverModule.load();
  if (!module) return {};
  const auto getClassObject = Export<GetClassObjectFunction>(module, "DllGetClassObject");
  if (!getClassObject) return {};
  ComPtr<IClassFactory> factory;
  if (FAILED(getClassObject(kClsidQuiverContainer, IID_IClassFactory, factory.put_void())) || !factory) return {};
  ComPtr<IQuiverItem> container;
  if (FAILED(factory->CreateInstance(nullptr, __uuidof(IQuiverItem), container.put_void()))) return {};
  return container;
}

ComPtr<IDispatchEx> NewDataX(REFCLSID clsid) {
  LoaderMessage message;
  const ComPtr<IClassFactory> factory = FactoryFor(clsid, &message);
  if (!factory) {
    if (message.caption) Show(message);
    return {};
  }
  ComPtr<IDispatchEx> object;
  if (FAILED(factory->CreateInstance(nullptr, __uuidof(IDispatchEx), object.put_void()))) return {};
  return object;
}

std::wstring PropertyNameOf(DISPID id) {
  const ComPtr<IDispatchEx> table = PropertyNameTable();
  if (!table) return {};
  UniqueBstr name;
  if (FAILED(table->GetMemberName(id, name.put())) || !name) return {};
  return std::wstring(name.get(), ::SysStringLen(name.get()));
}

MessageBoxFunction SetLoaderMessageBox(MessageBoxFunction show) {
  return messageBox.exchange(show ? show : &::MessageBoxW);
}

}  // namespace zv
