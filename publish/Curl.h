#pragma once
// libcurl's easy handle and string list, owned.

#include <curl/curl.h>

#include <QByteArray>
#include <QList>

#include <memory>

namespace Publish {

struct CurlCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;
using CurlList = std::unique_ptr<curl_slist, CurlCleanup>;

CurlHandle NewCurlHandle();  // throws Failure when libcurl cannot make one
CurlList MakeCurlList(const QList<QByteArray>& items);

}  // namespace Publish
