#pragma once

#include <QString>
#include <curl/curl.h>

// The entry points of libcurl that the SMTP session uses, looked up when the first mail goes out. Linking the
// library instead would load its thirty-odd dependencies (LDAP, Kerberos, SSH, RTMP, GnuTLS...) and run their
// set-up at every start of the station, which nearly doubles the time to the main window.
struct TCurlApi
{
    decltype(&curl_global_init) global_init = nullptr;
    decltype(&curl_easy_init) easy_init = nullptr;
    decltype(&curl_easy_setopt) easy_setopt = nullptr;
    decltype(&curl_easy_perform) easy_perform = nullptr;
    decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&curl_easy_strerror) easy_strerror = nullptr;
    decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&curl_slist_append) slist_append = nullptr;
    decltype(&curl_slist_free_all) slist_free_all = nullptr;
    decltype(&curl_mime_init) mime_init = nullptr;
    decltype(&curl_mime_free) mime_free = nullptr;
    decltype(&curl_mime_addpart) mime_addpart = nullptr;
    decltype(&curl_mime_data) mime_data = nullptr;
    decltype(&curl_mime_filedata) mime_filedata = nullptr;
    decltype(&curl_mime_filename) mime_filename = nullptr;
    decltype(&curl_mime_type) mime_type = nullptr;
    decltype(&curl_mime_encoder) mime_encoder = nullptr;
    decltype(&curl_mime_headers) mime_headers = nullptr;
};

// The library by its run-time name, libcurl.so.4, loaded and set up once for the whole run (thread-safe).
// nullptr when it cannot be loaded; *error then says why.
const TCurlApi* CurlApi(QString* error = nullptr);

// Loads the library of the given file name into an api of its own and sets it up; false with the reason in
// *error when the file is missing or lacks an entry point.
bool LoadCurlApi(const char* fileName, TCurlApi& api, QString* error);
