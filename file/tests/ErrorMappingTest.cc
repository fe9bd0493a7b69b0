#include <algorithm>
#include <cerrno>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include <boost/filesystem/exception.hpp>
#include <boost/system/error_code.hpp>
#include <gtest/gtest.h>

#include "file/Exception.h"
#include "file/posix/Errors.h"
#include "file/posix/FilesystemImpl.h"

namespace vrexa::file {
namespace {

enum class Outcome { None, NotFound, Inaccessible, BadPath, InUse, InsufficientSpace, BadAlloc, Unknown };

const char* Name(Outcome outcome) {
    static const char* names[] = {"none",  "NotFound",          "Inaccessible", "BadPath",
                                  "InUse", "InsufficientSpace", "bad_alloc",    "Unknown"};
    return names[static_cast<int>(outcome)];
}

// What a mapping call raised, by kind.
Outcome Classify(const std::function<void()>& call) {
    try {
        call();
        return Outcome::None;
    } catch (const NotFoundException&) {
        return Outcome::NotFound;
    } catch (const InaccessibleException&) {
        return Outcome::Inaccessible;
    } catch (const BadPathException&) {
        return Outcome::BadPath;
    } catch (const InUseException&) {
        return Outcome::InUse;
    } catch (const InsufficientSpaceException&) {
        return Outcome::InsufficientSpace;
    } catch (const UnknownException&) {
        return Outcome::Unknown;
    } catch (const std::bad_alloc& failure) {
        EXPECT_STREQ(failure.what(), "bad allocation");
        return Outcome::BadAlloc;
    }
}

struct ErrnoCase {
    int error;
    Outcome platform;  // the errno table of this platform
    Outcome portable;  // the portable-condition table of the base
};

const std::vector<ErrnoCase> kCases = {
    {0, Outcome::None, Outcome::None},
    {ENOENT, Outcome::NotFound, Outcome::NotFound},
    {ENXIO, Outcome::NotFound, Outcome::NotFound},
    {ENODEV, Outcome::NotFound, Outcome::NotFound},
    {EACCES, Outcome::Inaccessible, Outcome::Inaccessible},
    {EPERM, Outcome::Inaccessible, Outcome::Inaccessible},
    {EROFS, Outcome::Inaccessible, Outcome::Inaccessible},
    {ENOTDIR, Outcome::BadPath, Outcome::BadPath},
    {EINVAL, Outcome::BadPath, Outcome::BadPath},
    {ENAMETOOLONG, Outcome::BadPath, Outcome::BadPath},
    {EOPNOTSUPP, Outcome::BadPath, Outcome::BadPath},
    {ELOOP, Outcome::BadPath, Outcome::Unknown},
    {EBADF, Outcome::BadPath, Outcome::Unknown},
    {EBUSY, Outcome::InUse, Outcome::InUse},
    {EEXIST, Outcome::InUse, Outcome::InUse},
    {ENOTEMPTY, Outcome::InUse, Outcome::InUse},
    {ETXTBSY, Outcome::InUse, Outcome::InUse},
    {ENOSPC, Outcome::InsufficientSpace, Outcome::InsufficientSpace},
    {EFBIG, Outcome::InsufficientSpace, Outcome::InsufficientSpace},
    {EDQUOT, Outcome::InsufficientSpace, Outcome::Unknown},
    {ENOMEM, Outcome::BadAlloc, Outcome::BadAlloc},
    {EIO, Outcome::Unknown, Outcome::Unknown},
    {EISDIR, Outcome::Unknown, Outcome::Unknown},
    {EAGAIN, Outcome::Unknown, Outcome::Unknown},
};

// Errors that do not come from the operating system.
class ForeignCategory : public boost::system::error_category {
public:
    const char* name() const noexcept override { return "foreign"; }
    std::string message(int) const override { return "foreign failure"; }
};

// The base's mapping, reached through an otherwise complete filesystem.
class PortableMappingFilesystem : public posix::FilesystemImpl {
public:
    void ThrowIfError(const boost::system::error_code& error) override { Filesystem::ThrowIfError(error); }
};

TEST(ErrorMapping, PlatformTableMapsEveryErrnoToItsException) {
    for (const auto& c : kCases) {
        EXPECT_STREQ(Name(Classify([&] { posix::ThrowIfErrno(c.error); })), Name(c.platform)) << "errno " << c.error;
        posix::FilesystemImpl filesystem;
        const boost::system::error_code code(c.error, boost::system::system_category());
        EXPECT_STREQ(Name(Classify([&] { filesystem.ThrowIfError(code); })), Name(c.platform)) << "errno " << c.error;
    }
}

TEST(ErrorMapping, BaseMapsByPortableCondition) {
    PortableMappingFilesystem filesystem;
    for (const auto& c : kCases) {
        const boost::system::error_code code(c.error, boost::system::system_category());
        EXPECT_STREQ(Name(Classify([&] { filesystem.ThrowIfError(code); })), Name(c.portable)) << "errno " << c.error;
    }
}

// Exposes the wrapped-operation policy to run arbitrary failing operations.
class PolicyFilesystem : public posix::FilesystemImpl {
public:
    void Run(const std::function<void(boost::system::error_code&)>& operation) { Wrapped(operation); }
};

TEST(ErrorMapping, WrappedOperationsTurnEveryFailureIntoAFileException) {
    using boost::system::error_code;
    using boost::system::system_category;
    struct Case {
        const char* name;
        std::function<void(error_code&)> operation;
        Outcome outcome;
    };
    const std::vector<Case> cases = {
        {"success", [](error_code&) {}, Outcome::None},
        {"reported error", [](error_code& error) { error.assign(ENOSPC, system_category()); },
         Outcome::InsufficientSpace},
        {"thrown file-system error",
         [](error_code&) { throw boost::filesystem::filesystem_error("x", error_code(ENOENT, system_category())); },
         Outcome::NotFound},
        {"thrown file-system error without an error",
         [](error_code&) { throw boost::filesystem::filesystem_error("x", error_code()); }, Outcome::Unknown},
        {"file exception passes through", [](error_code&) { throw InUseException(); }, Outcome::InUse},
        {"exhausted memory passes through", [](error_code&) { ThrowBadAllocation(); }, Outcome::BadAlloc},
        {"anything else", [](error_code&) { throw std::runtime_error("x"); }, Outcome::Unknown},
    };
    PolicyFilesystem filesystem;
    for (const auto& c : cases) {
        EXPECT_STREQ(Name(Classify([&] { filesystem.Run(c.operation); })), Name(c.outcome)) << c.name;
    }
}

TEST(ErrorMapping, ErrorsOfOtherCategoriesAreUnknown) {
    posix::FilesystemImpl filesystem;
    PortableMappingFilesystem portable;
    // A failure that is not a system error at all, whatever its number.
    static const ForeignCategory category;
    const boost::system::error_code foreign(ENOENT, category);
    EXPECT_EQ(Classify([&] { filesystem.ThrowIfError(foreign); }), Outcome::Unknown);
    EXPECT_EQ(Classify([&] { portable.ThrowIfError(foreign); }), Outcome::Unknown);
}

TEST(ErrorMapping, FailedCallThatLeftNoErrorIsStillAFailure) {
    errno = 0;
    EXPECT_EQ(Classify([] { posix::ThrowLastError(); }), Outcome::Unknown);
    errno = ENOSPC;
    EXPECT_EQ(Classify([] { posix::ThrowLastError(); }), Outcome::InsufficientSpace);
}

TEST(FileExceptions, EveryKindIsCaughtAsAFileExceptionAndNamesItself) {
    const std::vector<std::function<void()>> throwers = {
        [] { throw NotFoundException(); },     [] { throw BadPathException(); },
        [] { throw InUseException(); },        [] { throw InsufficientSpaceException(); },
        [] { throw InaccessibleException(); }, [] { throw UnknownException(); },
        [] { throw OutOfBoundsException(); },  [] { throw InvalidMapException(); },
    };
    std::vector<std::string> texts;
    for (const auto& thrower : throwers) {
        try {
            thrower();
            ADD_FAILURE() << "nothing thrown";
        } catch (const Exception& failure) {
            // The text only names the class, so logs can tell the kinds apart.
            const std::string text = failure.what();
            EXPECT_EQ(text.rfind("vrexa::file::", 0), 0u) << text;
            texts.push_back(text);
        }
    }
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(std::unique(texts.begin(), texts.end()), texts.end());
}

}  // namespace
}  // namespace vrexa::file
