#include "services/Endpoints.h"

QString Endpoints::webDomain() {
    return QStringLiteral(VELMORA_WEB_DOMAIN);
}

QByteArray Endpoints::userAgent() {
    return QByteArrayLiteral("Velmora/1.0");
}

QByteArray Endpoints::userAgentWithContact() {
    return userAgent() + " (" + webDomain().toUtf8() + ")";
}

QByteArray Endpoints::userAgentWithSite() {
    return userAgent() + " +https://" + webDomain().toUtf8();
}
