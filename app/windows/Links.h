#pragma once
// The web addresses the program opens, in one place. The network pages are placeholders until
// the maker publishes real ones; the support page is the help index beside the program.
#include "platform/AppPaths.h"

#include <string>

inline constexpr const char* kFacebookPageAddress = "https://www.facebook.example/oxtavo";
inline constexpr const char* kGooglePlusPageAddress = "https://plus.example/oxtavo";

// The support page: the index of the help pages beside the program.
inline std::string SupportPageAddress(const platform::AppPaths& paths) {
    return platform::FileUrl(paths.resourceDir + "help/index.html");
}
