#include "locale/BoostLocale.h"

#include <boost/locale/format.hpp>
#include <boost/locale/message.hpp>

namespace vrexa::locale {

BoostLocale::BoostLocale(std::string domain, std::string path) : domain_(std::move(domain)), path_(std::move(path)) {}

void BoostLocale::SetCurrent(const std::string& name, const std::locale& locale) {
    std::lock_guard lock(mutex_);
    name_ = name;
    locale_ = locale;
}

std::locale BoostLocale::Current() {
    std::lock_guard lock(mutex_);
    return locale_;
}

std::string BoostLocale::GetName() {
    std::lock_guard lock(mutex_);
    return name_;
}

std::string BoostLocale::Translate(const std::string& text) {
    try {
        return boost::locale::translate(text).str(Current());
    } catch (const std::exception&) {
        // A locale without the messages facet translates nothing.
        return text;
    }
}

std::string BoostLocale::FormatRemaining(std::int64_t hours, std::int64_t minutes, std::int64_t seconds) {
    const char* pattern = nullptr;
    std::int64_t first = 0;
    std::int64_t second = 0;
    if (hours >= 2) {
        first = hours;
        if (minutes >= 2) {
            pattern = "{1} hours, {2} minutes remaining";
            second = minutes;
        } else {
            pattern = minutes == 1 ? "{1} hours, 1 minute remaining" : "{1} hours remaining";
        }
    } else if (hours == 1) {
        first = minutes;
        pattern = minutes >= 2 ? "1 hour, {1} minutes remaining"
                               : (minutes == 1 ? "1 hour, 1 minute remaining" : "1 hour remaining");
    } else if (minutes >= 2) {
        pattern = "{1} minutes remaining", first = minutes;
    } else if (minutes == 1) {
        pattern = "1 minute remaining";
    } else {
        pattern = seconds == 1 ? "1 second remaining" : "{1} seconds remaining";
        first = seconds;
    }

    const std::locale locale = Current();
    const auto render = [&](const std::string& text) {
        boost::locale::format format(text);
        format % first % second;
        return format.str(locale);
    };
    try {
        return render(TranslatePattern(pattern));
    } catch (const std::exception&) {
        return render(pattern);
    }
}

}  // namespace vrexa::locale
