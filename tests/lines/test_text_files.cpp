#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "Unprivileged.h"
#include "support/Errors.h"
#include "support/StringList.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

// A line list whose text form is whatever SplitText was last given, as a text box
// holds it; it records what the file code did around the call.
class TextHolder : public TStringList {
  public:
    std::string text;
    int splits = 0;
    int bracketDuringSplit = -1;
    bool writeLockedByOthers = false;  // could another description lock for writing?
    std::string path;
    bool failSplit = false;

    std::string JoinLines() const override { return text; }
    void SplitText(const std::string& t) override {
        ++splits;
        bracketDuringSplit = UpdateCount();
        if (!path.empty()) {
            int other = ::open(path.c_str(), O_RDWR);
            struct flock lock = {};
            lock.l_type = F_WRLCK;
            writeLockedByOthers = other >= 0 && ::fcntl(other, F_OFD_SETLK, &lock) == 0;
            if (other >= 0) ::close(other);
        }
        if (failSplit) throw EInvalidOperation("Text exceeds memo capacity");
        text = t;
    }
};

bool CanLockForWriting(const std::string& path) {
    int other = ::open(path.c_str(), O_RDWR);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    bool locked = other >= 0 && ::fcntl(other, F_OFD_SETLK, &lock) == 0;
    if (other >= 0) ::close(other);
    return locked;
}

class TextFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("lines-files-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        cwd_ = fs::current_path();
    }
    void TearDown() override {
        fs::current_path(cwd_);
        fs::remove_all(dir_);
    }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    static void Write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path dir_, cwd_;
};

template <typename Error, typename F>
std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.Message();
    }
    return "<no error>";
}

}  // namespace

TEST_F(TextFiles, LoadHandsTheWholeFileToSplitTextInsideABracket) {
    const std::string bytes = "first\r\n\xff\xfe\0binary\nlast"s;
    Write(Path("in.txt"), bytes);
    TextHolder lines;
    lines.path = Path("in.txt");
    lines.LoadTextFile(Path("in.txt"));
    EXPECT_EQ(lines.text, bytes);
    EXPECT_EQ(lines.splits, 1);
    EXPECT_EQ(lines.bracketDuringSplit, 1);
    EXPECT_EQ(lines.UpdateCount(), 0);
    EXPECT_FALSE(lines.writeLockedByOthers) << "others could write while the file was read";

    Write(Path("empty.txt"), "");
    lines.LoadTextFile(Path("empty.txt"));
    EXPECT_EQ(lines.text, "");
    EXPECT_EQ(lines.splits, 2);
}

TEST_F(TextFiles, LoadFailuresNameTheFileAsGivenAndChangeNothing) {
    TextHolder lines;
    lines.text = "kept";
    fs::create_directories(dir_ / "folder.txt");
    ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
    fs::current_path(dir_);
    for (const std::string& name :
         {"missing.txt"s, "folder.txt"s, Path("no/such/dir/a.txt"), ""s, "pipe"s}) {
        EXPECT_EQ(MessageOf<EFOpenError>([&] { lines.LoadTextFile(name); }),
                  "Cannot open file " + name);
    }
    EXPECT_EQ(lines.text, "kept");
    EXPECT_EQ(lines.splits, 0);
    EXPECT_EQ(lines.UpdateCount(), 0);
}

TEST_F(TextFiles, LoadRefusesAFileUnreadableToTheUser) {
    Write(Path("secret.txt"), "x");
    ::chmod(Path("secret.txt").c_str(), 0);
    ::chmod(dir_.c_str(), 0755);
    // Permissions do not bind root: the load runs as an ordinary user.
    const int status = RunUnprivileged([&] {
        TextHolder lines;
        lines.text = "kept";
        try {
            lines.LoadTextFile(Path("secret.txt"));
            return 1;
        } catch (const EFOpenError& e) {
            if (e.Message() != "Cannot open file " + Path("secret.txt")) return 2;
        }
        return lines.splits == 0 && lines.text == "kept" ? 0 : 3;
    });
    EXPECT_EQ(status, 0) << "1: loaded, 2: wrong message, 3: the list changed";
}

TEST_F(TextFiles, LoadRefusesAFileLockedForWritingInThisProcess) {
    Write(Path("busy.txt"), "busy");
    int writer = ::open(Path("busy.txt").c_str(), O_RDWR);
    ASSERT_GE(writer, 0);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(writer, F_OFD_SETLK, &lock), 0);
    TextHolder lines;
    EXPECT_EQ(MessageOf<EFOpenError>([&] { lines.LoadTextFile(Path("busy.txt")); }),
              "Cannot open file " + Path("busy.txt"));
    EXPECT_EQ(lines.splits, 0);
    ::close(writer);
    lines.LoadTextFile(Path("busy.txt"));
    EXPECT_EQ(lines.text, "busy");
}

TEST_F(TextFiles, LoadAndSaveRefuseAFileLockedByAnotherProcess) {
    Write(Path("held.txt"), "held");
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    pid_t child = ::fork();
    if (child == 0) {
        int fd = ::open(Path("held.txt").c_str(), O_RDWR);
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        char c = ::fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        (void)!::read(release[0], &c, 1);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    TextHolder lines;
    lines.text = "new";
    EXPECT_THROW(lines.LoadTextFile(Path("held.txt")), EFOpenError);
    EXPECT_EQ(MessageOf<EFCreateError>([&] { lines.SaveTextFile(Path("held.txt")); }),
              "Cannot create file " + Path("held.txt") + ": The file is in use by another program");
    EXPECT_EQ(Read(Path("held.txt")), "held") << "a refused save must not truncate";
    (void)!::write(release[1], "x", 1);
    ::waitpid(child, nullptr, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
    lines.SaveTextFile(Path("held.txt"));
    EXPECT_EQ(Read(Path("held.txt")), "new");
}

TEST_F(TextFiles, FailingSplitClosesBracketAndFile) {
    Write(Path("in.txt"), "text");
    TextHolder lines;
    lines.failSplit = true;
    EXPECT_THROW(lines.LoadTextFile(Path("in.txt")), EInvalidOperation);
    EXPECT_EQ(lines.UpdateCount(), 0);
    EXPECT_TRUE(CanLockForWriting(Path("in.txt"))) << "the file stayed open and locked";
}

TEST_F(TextFiles, SaveWritesTheTextFormAndTruncates) {
    TStringList list;
    list.AppendLine("1 2 3");
    list.AppendLine("");
    Write(Path("out.txt"), std::string(1000, 'x'));
    list.SaveTextFile(Path("out.txt"));
    EXPECT_EQ(Read(Path("out.txt")), "1 2 3\r\n\r\n");
    EXPECT_TRUE(CanLockForWriting(Path("out.txt"))) << "the file stayed open and locked";

    TextHolder holder;
    holder.text = "no final break\r\n\xff";
    holder.SaveTextFile(Path("out.txt"));
    EXPECT_EQ(Read(Path("out.txt")), "no final break\r\n\xff");

    TStringList empty;
    empty.SaveTextFile(Path("out.txt"));
    EXPECT_TRUE(fs::exists(Path("out.txt")));
    EXPECT_EQ(fs::file_size(Path("out.txt")), 0u);
    empty.SaveTextFile(Path("new.txt"));
    EXPECT_EQ(fs::file_size(Path("new.txt")), 0u);
}

TEST_F(TextFiles, SavedFileModeFollowsTheUmask) {
    const mode_t old = ::umask(027);
    TStringList list;
    list.SaveTextFile(Path("masked.txt"));
    ::umask(old);
    EXPECT_EQ(fs::status(Path("masked.txt")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(TextFiles, SaveFailuresNameTheFileAsGiven) {
    TStringList list;
    list.AppendLine("x");
    fs::create_directories(dir_ / "folder.txt");
    // Only a regular file takes the text: a FIFO would hold the window once its
    // buffer is full, and a device would swallow the text or fail half-way.
    ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
    const std::string notRegular = "Not a regular file", absent = "No such file or directory";
    for (const auto& [name, why] : {std::pair{Path("absent/out.txt"), absent},
                                    {Path("folder.txt"), "Is a directory"s},
                                    {""s, absent},
                                    {Path("pipe"), notRegular},
                                    {"/dev/null"s, notRegular}}) {
        EXPECT_EQ(MessageOf<EFCreateError>([&] { list.SaveTextFile(name); }),
                  "Cannot create file " + name + ": " + why);
    }
    EXPECT_FALSE(fs::exists(dir_ / "absent"));
    EXPECT_TRUE(fs::is_fifo(Path("pipe")));
    const int reader = ::open(Path("pipe").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    char byte = 0;
    EXPECT_LE(::read(reader, &byte, 1), 0) << "text went into the FIFO";
    ::close(reader);
}

TEST_F(TextFiles, ShortWriteFailsAndLeavesWhatWasWritten) {
    TStringList list;
    list.AppendLine(std::string(10000, 'a'));
    // A file size limit makes the kernel write only the first bytes.
    struct rlimit old = {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string message =
        MessageOf<EWriteError>([&] { list.SaveTextFile(Path("short.txt")); });
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(message, "Stream write error");
    EXPECT_EQ(Read(Path("short.txt")), std::string(4096, 'a'));
    EXPECT_TRUE(CanLockForWriting(Path("short.txt"))) << "not closed after the failure";
}

TEST_F(TextFiles, LoadedBytesSaveBackIdentically) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    Write(Path("bytes.txt"), all);
    TextHolder lines;
    lines.LoadTextFile(Path("bytes.txt"));
    lines.SaveTextFile(Path("copy.txt"));
    EXPECT_EQ(Read(Path("copy.txt")), all);
}
