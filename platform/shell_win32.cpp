#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <vector>

#include "platform/text.h"
#include "platform/win32_platform.h"

namespace kestrin {
namespace {

template <class T>
struct Com {
  T* p = nullptr;
  ~Com() {
    if (p) p->Release();
  }
  T** operator&() { return &p; }
  T* operator->() { return p; }
  explicit operator bool() const { return p != nullptr; }
};

std::optional<std::string> ResultPath(IFileDialog* dialog) {
  Com<IShellItem> item;
  if (FAILED(dialog->GetResult(&item))) return std::nullopt;
  wchar_t* path = nullptr;
  if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) || !path) return std::nullopt;
  std::string result = Narrow(path);
  CoTaskMemFree(path);
  return result;
}

// The classic browse dialog, where the item dialog cannot be created.
std::optional<std::string> BrowseForFolder(HWND owner, const std::wstring& title) {
  BROWSEINFOW bi{};
  bi.hwndOwner = owner;
  bi.lpszTitle = title.c_str();
  bi.ulFlags = BIF_RETURNONLYFSDIRS;
  PIDLIST_ABSOLUTE pidl = SHBrowseForFolderW(&bi);
  if (!pidl) return std::nullopt;
  wchar_t buf[MAX_PATH] = {};
  bool ok = SHGetPathFromIDListW(pidl, buf);
  CoTaskMemFree(pidl);
  if (!ok) return std::nullopt;
  return Narrow(buf);
}

}  // namespace

std::optional<std::string> Win32Shell::PickFolder(std::string_view title) {
  const std::wstring wtitle = Widen(title);
  UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS);
  std::optional<std::string> result;
  Com<IFileOpenDialog> dialog;
  if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IFileOpenDialog, reinterpret_cast<void**>(&dialog)))) {
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog->SetTitle(wtitle.c_str());
    if (SUCCEEDED(dialog->Show(owner_))) result = ResultPath(dialog.p);
  } else {
    result = BrowseForFolder(owner_, wtitle);
  }
  SetErrorMode(old_mode);
  return result;
}

std::optional<std::string> Win32Shell::PickSaveFile(std::string_view filter,
                                                    std::string_view initial_folder) {
  // "name|pattern|name|pattern" into the dialog's file types.
  std::vector<std::wstring> parts;
  std::wstring f = Widen(filter), cur;
  for (wchar_t c : f) {
    if (c == L'|') {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  parts.push_back(cur);
  std::vector<COMDLG_FILTERSPEC> specs;
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2)
    specs.push_back({parts[i].c_str(), parts[i + 1].c_str()});

  Com<IFileSaveDialog> dialog;
  if (FAILED(CoCreateInstance(CLSID_FileSaveDialog, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IFileSaveDialog, reinterpret_cast<void**>(&dialog))))
    return std::nullopt;
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions((options | FOS_FORCEFILESYSTEM) & ~FOS_OVERWRITEPROMPT);
  if (!specs.empty()) {
    dialog->SetFileTypes(static_cast<UINT>(specs.size()), specs.data());
    dialog->SetFileTypeIndex(1);
  }
  Com<IShellItem> folder;
  if (!initial_folder.empty() &&
      SUCCEEDED(SHCreateItemFromParsingName(Widen(initial_folder).c_str(), nullptr, IID_IShellItem,
                                            reinterpret_cast<void**>(&folder))))
    dialog->SetFolder(folder.p);
  if (FAILED(dialog->Show(owner_))) return std::nullopt;
  return ResultPath(dialog.p);
}

void Win32Shell::OpenUrl(std::string_view url) {
  ShellExecuteW(owner_, L"open", Widen(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void Win32Shell::StartCommandPrompt() {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOW;
  wchar_t line[] = L"cmd.exe";
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                     &si, &pi)) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
}

}  // namespace kestrin
