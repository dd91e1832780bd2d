#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <commdlg.h>

#include <vector>

#include "platform/text.h"
#include "platform/win32_handle.h"
#include "platform/win32_platform.h"

namespace kestrin {
namespace {

std::optional<std::string> ResultPath(IFileDialog* dialog) {
  ComPtr<IShellItem> item;
  if (FAILED(dialog->GetResult(item.Receive()))) return std::nullopt;
  UniqueCoMemory<wchar_t> path;
  if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, path.Receive())) || !path) return std::nullopt;
  return Narrow(path.Get());
}

// The classic browse dialog, where the item dialog cannot be created.
std::optional<std::string> BrowseForFolder(HWND owner, const std::wstring& title) {
  BROWSEINFOW bi{};
  bi.hwndOwner = owner;
  bi.lpszTitle = title.c_str();
  bi.ulFlags = BIF_RETURNONLYFSDIRS;
  UniqueCoMemory<ITEMIDLIST> pidl(SHBrowseForFolderW(&bi));
  if (!pidl) return std::nullopt;
  wchar_t buf[MAX_PATH] = {};
  if (!SHGetPathFromIDListW(pidl.Get(), buf)) return std::nullopt;
  return Narrow(buf);
}

}  // namespace

std::optional<std::string> Win32Shell::PickFolder(std::string_view title) {
  const std::wstring wtitle = Widen(title);
  UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS);
  std::optional<std::string> result;
  ComPtr<IFileOpenDialog> dialog;
  if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IFileOpenDialog, dialog.ReceiveVoid()))) {
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog->SetTitle(wtitle.c_str());
    if (SUCCEEDED(dialog->Show(owner_))) result = ResultPath(dialog.Get());
  } else {
    result = BrowseForFolder(owner_, wtitle);
  }
  SetErrorMode(old_mode);
  return result;
}

std::optional<std::string> Win32Shell::PickSaveFile(std::string_view filter,
                                                    std::string_view initial_folder) {
  // The classic dialog: without a default extension it returns the name as
  // typed on every system (the item dialog of Wine adds the filter's
  // extension whenever the letter case differs).
  std::wstring f = Widen(filter);
  for (wchar_t& c : f)
    if (c == L'|') c = L'\0';
  f.push_back(L'\0');
  f.push_back(L'\0');
  std::wstring folder = Widen(initial_folder);
  std::vector<wchar_t> name(32768, L'\0');
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner_;
  ofn.lpstrFilter = f.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = name.data();
  ofn.nMaxFile = static_cast<DWORD>(name.size());
  ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameW(&ofn)) return std::nullopt;
  return Narrow(name.data());
}

void Win32Shell::OpenUrl(std::string_view url) {
  ShellExecuteW(owner_, L"open", Widen(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void Win32Shell::StartCommandPrompt() {
  // By its full path in the system folder: a bare name would be looked for
  // in the program's own folder first, the library folder, where anyone who
  // can write there could have put a cmd.exe of their own.
  wchar_t folder[MAX_PATH + 1];
  const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n > MAX_PATH) return;
  std::wstring program(folder, n);
  if (program.back() != L'\\') program += L'\\';
  program += L"cmd.exe";
  std::wstring line = L"\"" + program + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE,
                     nullptr, nullptr, &si, &pi)) {
    UniqueHandle thread(pi.hThread), process(pi.hProcess);  // not waited for
  }
}

void Win32Shell::AnnounceEnvironmentChange() {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                      reinterpret_cast<LPARAM>(L"Environment"), SMTO_ABORTIFHUNG, 5000, &result);
}

std::string Win32Shell::RoamingAppDataFolder() {
  UniqueCoMemory<wchar_t> path;  // given back also after a failure
  const HRESULT hr = SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, path.Receive());
  std::string folder = SUCCEEDED(hr) && path ? Narrow(path.Get()) : std::string();
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  if (folder.empty()) last_error_ = FAILED(hr) ? hr : HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  return folder;
}

std::string Win32Shell::WindowsFolder() {
  std::wstring folder(MAX_PATH + 1, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const UINT n = GetWindowsDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
    if (n == 0) {
      last_error_ = HRESULT_FROM_WIN32(GetLastError());
      return {};
    }
    if (n < folder.size()) {
      folder.resize(n);
      while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
      return Narrow(folder);
    }
    folder.assign(n + 1, L'\0');
  }
  last_error_ = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  return {};
}

std::string Win32Shell::MachinePath() {
  UniqueKey key;
  LONG r = RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                         L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", 0,
                         KEY_QUERY_VALUE, key.Receive());
  if (r != ERROR_SUCCESS) {
    last_error_ = HRESULT_FROM_WIN32(r);
    return {};
  }
  std::wstring value;
  // The value may grow between the two calls; ask again until it fits.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0, size = 0;
    r = RegQueryValueExW(key.Get(), L"Path", nullptr, &type, nullptr, &size);
    if (r != ERROR_SUCCESS) break;
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
      r = ERROR_INVALID_DATA;
      break;
    }
    std::wstring buf(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
    r = RegQueryValueExW(key.Get(), L"Path", nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &bytes);
    if (r == ERROR_MORE_DATA) continue;
    if (r == ERROR_SUCCESS) {
      buf.resize(bytes / sizeof(wchar_t));
      while (!buf.empty() && buf.back() == L'\0') buf.pop_back();
      value = std::move(buf);
    }
    break;
  }
  if (r != ERROR_SUCCESS) last_error_ = HRESULT_FROM_WIN32(r);
  return Narrow(value);
}

std::string Win32Shell::ExpandEnvironment(std::string_view text) {
  const std::wstring source = Widen(text);
  std::wstring out(source.size() + 256, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD n = ExpandEnvironmentStringsW(source.c_str(), out.data(), static_cast<DWORD>(out.size()));
    if (n == 0) break;
    if (n <= out.size()) {
      out.resize(n - 1);  // without the closing null
      return Narrow(out);
    }
    out.assign(n, L'\0');
  }
  last_error_ = HRESULT_FROM_WIN32(GetLastError());
  return std::string(text);
}

// A failed HRESULT of the Win32 facility carries the system's error code,
// which FormatMessage turns into the same text.
std::string Win32Shell::LastError() { return SystemErrorText(static_cast<DWORD>(last_error_.load())); }

}  // namespace kestrin
