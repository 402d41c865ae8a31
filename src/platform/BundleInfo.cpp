#include "BundleInfo.h"

#include "PropertyList.h"

#include <QMutex>

#include <cstdio>
#include <cstdlib>

namespace bundleinfo_data {
extern const char* const infoPlist;
extern const char* const apiHosts[5];
} // namespace bundleinfo_data

namespace {

QMutex& lock() {
    static QMutex mutex;
    return mutex;
}

std::optional<QVariantMap>& installed() {
    static std::optional<QVariantMap> dictionary;
    return dictionary;
}

QVariantMap loadCompiled() {
    QString error;
    const auto root = plist::parse(BundleInfo::compiledPropertyList(), &error);
    if (!root || root->typeId() != QMetaType::QVariantMap) {
        // The build wrote this text itself; a broken one is a packaging fault.
        std::fprintf(stderr, "The compiled-in information property list is unreadable: %s\n",
                     qPrintable(error));
        std::abort();
    }
    return root->toMap();
}

} // namespace

QVariantMap BundleInfo::infoDictionary() {
    QMutexLocker locker(&lock());
    if (!installed())
        installed() = loadCompiled();
    return *installed();
}

std::optional<QString> BundleInfo::string(const QString& key) {
    const QVariant value = infoDictionary().value(key);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

BundleInfo::ApiHosts BundleInfo::apiHosts() {
    const auto& h = bundleinfo_data::apiHosts;
    return {QString::fromUtf8(h[0]), QString::fromUtf8(h[1]), QString::fromUtf8(h[2]),
            QString::fromUtf8(h[3]), QString::fromUtf8(h[4])};
}

void BundleInfo::setInfoDictionary(const QVariantMap& dictionary) {
    QMutexLocker locker(&lock());
    installed() = dictionary;
}

QByteArray BundleInfo::compiledPropertyList() {
    return QByteArray(bundleinfo_data::infoPlist);
}
