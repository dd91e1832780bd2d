#include "core/session.h"

#include "platform/file_search.h"

namespace kestrin {

void Session::LogWalkFailures(const FileIndex& index) {
  for (const WalkFailure& f : index.failures()) {
    if (f.kind == WalkFailure::Kind::Unreadable) {
      Log("无法读取文件夹 " + f.folder + ": " + f.reason);
      continue;
    }
    Log("未进入文件夹链接 " + f.folder + ": " +
        (f.reason.empty() ? std::string("它所指文件夹所在的文件系统不提供文件标识")
                          : "无法取得它所指文件夹的标识 (" + f.reason + ")") +
        ", 无法判断它是否指回已搜索过的文件夹.");
  }
}

}  // namespace kestrin
