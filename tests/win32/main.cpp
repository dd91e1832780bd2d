#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// A log viewer that keeps only the beginning and the end of a long run
// still shows why a test failed: every failure is written again, cut to a
// readable length, after the last test; the first one, which the others
// often follow from, comes last.
class FailuresAgainAtTheEnd : public ::testing::EmptyTestEventListener {
 public:
  void OnTestPartResult(const ::testing::TestPartResult& r) override {
    if (!r.failed()) return;
    const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string text = std::string(t ? t->test_suite_name() : "") + "." + (t ? t->name() : "") + " at " +
                       (r.file_name() ? r.file_name() : "?") + ":" + std::to_string(r.line_number()) + "\n" +
                       r.message();
    if (text.size() > 3000) text = text.substr(0, 1500) + "\n[...]\n" + text.substr(text.size() - 1500);
    failures_.push_back(std::move(text));
  }
  void OnTestProgramEnd(const ::testing::UnitTest&) override {
    if (failures_.empty()) return;
    std::printf("\n==== %zu failure(s) again, the first one last ====\n", failures_.size());
    for (auto f = failures_.rbegin(); f != failures_.rend(); ++f) std::printf("%s\n----\n", f->c_str());
    std::fflush(stdout);
  }

 private:
  std::vector<std::string> failures_;
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new FailuresAgainAtTheEnd);
  return RUN_ALL_TESTS();
}
