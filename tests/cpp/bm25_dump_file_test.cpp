// Where and how a dump writes: permissions of the temporary file, the file left after a failed
// dump, and the in-place fallback for a directory the process may not write.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "search/bm25/bm25.h"
#include "search/bm25/model_file.h"

namespace fs = std::filesystem;
using orvel::typing::text::BM25;
using orvel::typing::text::ModelFileDestination;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

unsigned ModeOf(const fs::path& path) {
  struct stat info;
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

std::vector<std::string> Listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

BM25 SmallModel() {
  BM25 model(0.75, 1.2);
  model.train(std::vector<std::string>{"a", "b", "a"});
  return model;
}

// Sets the process umask for the life of the object.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : saved_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(saved_); }

 private:
  mode_t saved_;
};

class ModelDumpFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "bm25_dump_file_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }

  fs::path dir_;
};

// Fault caught: the target's permissions copied onto the temporary file only at commit, so
// that a private model is written into a file readable by everyone (0666 & ~0 here).
TEST_F(ModelDumpFile, TemporaryFileOfAPrivateModelIsPrivateFromTheStart) {
  const fs::path target = dir_ / "model.json";
  WriteFile(target, "old");
  ::chmod(target.c_str(), 0600);
  ScopedUmask open_umask(0);
  ModelFileDestination destination;
  ASSERT_EQ(destination.open(target.string()), nullptr);
  ASSERT_FALSE(destination.temporary_path().empty());
  EXPECT_EQ(destination.temporary_path().parent_path(), dir_);
  struct stat info;
  ASSERT_EQ(::fstat(::fileno(destination.stream()), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// Fault caught: permissions not copied exactly when the umask narrows them (the target's 0664
// would become 0644 under umask 022, locking out the target's group).
TEST_F(ModelDumpFile, ReplacedFileKeepsItsExactMode) {
  const fs::path target = dir_ / "model.json";
  WriteFile(target, "old");
  ::chmod(target.c_str(), 0664);
  ScopedUmask narrow_umask(022);
  SmallModel().dump(target.string());
  EXPECT_EQ(ModeOf(target), 0664u);
  EXPECT_NE(ReadFile(target), "old");
}

// Fault caught: a new model created with a fixed private mode (as mkstemp gives) or one wider
// than the umask allows; a new file gets 0666 less the umask, as any program's would.
TEST_F(ModelDumpFile, NewFileGetsTheUsualModeLessTheUmask) {
  ScopedUmask umask_027(027);
  SmallModel().dump((dir_ / "new.json").string());
  EXPECT_EQ(ModeOf(dir_ / "new.json"), 0640u);
  EXPECT_EQ(Listing(dir_), std::vector<std::string>{"new.json"});
}

// Fault caught: a dump that stops before commit (a write error, an exception) leaving the
// temporary file behind or having touched the target.
TEST_F(ModelDumpFile, UncommittedDumpLeavesTheTargetAndNoTemporary) {
  const fs::path target = dir_ / "model.json";
  WriteFile(target, "old");
  {
    ModelFileDestination destination;
    ASSERT_EQ(destination.open(target.string()), nullptr);
    std::fputs("partial", destination.stream());
  }
  EXPECT_EQ(ReadFile(target), "old");
  EXPECT_EQ(Listing(dir_), std::vector<std::string>{"model.json"});
}

// Fault caught: losing the in-place fallback, so that a service owning its model file but not
// the directory can no longer save it. As root, the dump runs in a child that drops to an
// unprivileged user; otherwise the directory is made read-only.
TEST_F(ModelDumpFile, FileInADirectoryWeMayNotWriteIsWrittenInPlace) {
  const fs::path target = dir_ / "model.json";
  WriteFile(target, "old");
  const bool as_root = ::geteuid() == 0;
  constexpr uid_t kNobody = 65534;
  if (as_root) {
    ::chmod(dir_.c_str(), 0755);
    ASSERT_EQ(::chown(target.c_str(), kNobody, kNobody), 0);
  } else {
    ::chmod(dir_.c_str(), 0555);
  }
  const BM25 model = SmallModel();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (as_root && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(2);
    try {
      model.dump(target.string());
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ::chmod(dir_.c_str(), 0700);
  const fs::path reference = dir_ / "reference.json";
  model.dump(reference.string());
  EXPECT_EQ(ReadFile(target), ReadFile(reference));
  EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"model.json", "reference.json"}));
}

}  // namespace
