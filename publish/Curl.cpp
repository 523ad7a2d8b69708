#include "publish/Curl.h"
#include "publish/Site.h"

namespace Publish {

CurlHandle NewCurlHandle()
{
    CurlHandle handle(curl_easy_init());
    if (!handle)
        throw Failure{QStringLiteral("The transfer library could not start (out of memory?).")};
    return handle;
}

CurlList MakeCurlList(const QList<QByteArray>& items)
{
    CurlList list;
    for (const QByteArray& item : items) {
        curl_slist* longer = curl_slist_append(list.get(), item.constData());
        if (!longer)
            throw Failure{QStringLiteral("Out of memory.")};
        (void)list.release();
        list.reset(longer);
    }
    return list;
}

}  // namespace Publish
