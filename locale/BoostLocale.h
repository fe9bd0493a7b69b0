#pragma once

#include <locale>
#include <mutex>
#include <string>

#include "locale/SimpleLocale.h"

namespace vrexa::locale {

// Translation through gettext catalogs and formatting with the locale
// library. The current locale may be switched on one thread while others
// translate, so it is guarded.
class BoostLocale : public SimpleLocale {
public:
    std::string GetName() override;
    std::string Translate(const std::string& text) override;
    std::string FormatRemaining(std::int64_t hours, std::int64_t minutes, std::int64_t seconds) override;

protected:
    BoostLocale(std::string domain, std::string path);

    // Makes (name, locale) current together.
    void SetCurrent(const std::string& name, const std::locale& locale);

    const std::string domain_;
    const std::string path_;

private:
    std::locale Current();

    std::mutex mutex_;
    std::string name_;
    std::locale locale_;
};

}  // namespace vrexa::locale
