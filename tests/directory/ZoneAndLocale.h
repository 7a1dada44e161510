// Sets the time zone and the ICU default locale for one test and puts both back after it.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include <unicode/locid.h>

namespace vestrel::testing {

class ZoneAndLocale {
 public:
  ZoneAndLocale(const char* zone, const char* locale) : savedLocale_(icu::Locale::getDefault()) {
    if (const char* old = std::getenv("TZ")) savedZone_ = old;
    setenv("TZ", zone, 1);
    tzset();
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale(locale), status);
  }
  ~ZoneAndLocale() {
    if (savedZone_)
      setenv("TZ", savedZone_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(savedLocale_, status);
  }
  ZoneAndLocale(const ZoneAndLocale&) = delete;
  ZoneAndLocale& operator=(const ZoneAndLocale&) = delete;

 private:
  std::optional<std::string> savedZone_;
  icu::Locale savedLocale_;
};

}  // namespace vestrel::testing
