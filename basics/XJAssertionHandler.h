#pragma once

#include <memory>
#include <stdexcept>
#include <string>

namespace vitrine {

// What an assertion check raises on a thread that has no handler installed.
class XJAssertionFailure : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// Turns an assertion failure into log lines instead of an exception. Each thread has its own
// handler slot; a thread loop installs one on its thread, other threads have none and their
// failed checks raise XJAssertionFailure.
// Thread safety: stateless; the slot is per thread. The lines of one failure may interleave with
// other threads' log output.
class XJAssertionHandler {
public:
    virtual ~XJAssertionHandler() = default;

    // Log "**** ERR: assertion failure!", the method (or function), "file, line", the object
    // (method form only) and the description, then return.
    virtual void handleFailureInMethod(const std::string& method, const std::string& object,
                                       const std::string& file, long line,
                                       const std::string& description);
    virtual void handleFailureInFunction(const std::string& function, const std::string& file,
                                         long line, const std::string& description);

    // The calling thread's handler, or empty.
    static std::shared_ptr<XJAssertionHandler> currentHandler();
    // Installs a handler on the calling thread (empty removes it); returns the previous one.
    static std::shared_ptr<XJAssertionHandler> setCurrentHandler(
        std::shared_ptr<XJAssertionHandler> handler);
};

// Report a failed check to the calling thread's handler, or raise XJAssertionFailure with the
// description when the thread has none. A null or empty function or file name is reported as
// "<Unknown Function>" or "<Unknown File>". The description is printf-formatted.
void xjAssertionFailedInFunction(const char* function, const char* file, long line,
                                 const char* format, ...) __attribute__((format(printf, 4, 5)));
void xjAssertionFailedInMethod(const char* method, const std::string& object, const char* file,
                               long line, const char* format, ...)
    __attribute__((format(printf, 5, 6)));

}  // namespace vitrine

// The assertion checks. The first argument after the condition (or after method and object) is a
// printf format for the description. Unlike assert() they stay active in release builds.
#define XJAssert(condition, ...)                                                               \
    do {                                                                                       \
        if (!(condition))                                                                      \
            ::vitrine::xjAssertionFailedInFunction(__func__, __FILE__, __LINE__, __VA_ARGS__); \
    } while (false)

// method: the operation's name as it should appear in the log ("-[OSCNode addLocalNode:]");
// object: the description of the object whose operation failed.
#define XJAssertInMethod(condition, method, object, ...)                                 \
    do {                                                                                 \
        if (!(condition))                                                                \
            ::vitrine::xjAssertionFailedInMethod((method), (object), __FILE__, __LINE__, \
                                                 __VA_ARGS__);                           \
    } while (false)
