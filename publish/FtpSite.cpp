#include "publish/Site.h"
#include "publish/Tls.h"

namespace Publish {

std::unique_ptr<Site> MakeFtpSite(const Destination&, const Request& request, CertificateQuestion, const std::atomic<bool>&)
{
    throw Failure{QStringLiteral("Publishing to %1 over FTP is not possible yet.").arg(request.Destination), false, true};
}

}  // namespace Publish
