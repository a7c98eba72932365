#include "basics/XJAssertionHandler.h"

#include <cstdarg>
#include <cstdio>
#include <utility>

#include "basics/Log.h"

namespace vitrine {

namespace {

thread_local std::shared_ptr<XJAssertionHandler> threadHandler;

std::string nameOr(const char* name, const char* fallback) {
    return name != nullptr && *name != '\0' ? std::string(name) : std::string(fallback);
}

}  // namespace

void XJAssertionHandler::handleFailureInMethod(const std::string& method, const std::string& object,
                                               const std::string& file, long line,
                                               const std::string& description) {
    Log::write("**** ERR: assertion failure!");
    Log::write("**** method: %s", method.c_str());
    Log::write("**** %s, %ld", file.c_str(), line);
    Log::write("**** object: %s", object.c_str());
    Log::writeText(description);
}

void XJAssertionHandler::handleFailureInFunction(const std::string& function,
                                                 const std::string& file, long line,
                                                 const std::string& description) {
    Log::write("**** ERR: assertion failure!");
    Log::write("**** %s", function.c_str());
    Log::write("**** %s, %ld", file.c_str(), line);
    Log::writeText(description);
}

std::shared_ptr<XJAssertionHandler> XJAssertionHandler::currentHandler() {
    return threadHandler;
}

std::shared_ptr<XJAssertionHandler> XJAssertionHandler::setCurrentHandler(
    std::shared_ptr<XJAssertionHandler> handler) {
    return std::exchange(threadHandler, std::move(handler));
}

void xjAssertionFailedInFunction(const char* function, const char* file, long line,
                                 const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string description = stringWithFormatV(format, args);
    va_end(args);
    // Held for the call, so a handler that replaces itself is not destroyed while it runs.
    const auto handler = threadHandler;
    if (!handler) throw XJAssertionFailure(description);
    handler->handleFailureInFunction(nameOr(function, "<Unknown Function>"),
                                     nameOr(file, "<Unknown File>"), line, description);
}

void xjAssertionFailedInMethod(const char* method, const std::string& object, const char* file,
                               long line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string description = stringWithFormatV(format, args);
    va_end(args);
    const auto handler = threadHandler;
    if (!handler) throw XJAssertionFailure(description);
    handler->handleFailureInMethod(nameOr(method, "<Unknown Function>"), object,
                                   nameOr(file, "<Unknown File>"), line, description);
}

}  // namespace vitrine
