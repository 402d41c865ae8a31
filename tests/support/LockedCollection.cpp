// GLib headers use names that Qt defines as macros, so they come first.
#include <gio/gio.h>

#include "LockedCollection.h"

#include <QDir>
#include <QUuid>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr const char* service = "org.freedesktop.secrets";
constexpr const char* servicePath = "/org/freedesktop/secrets";
constexpr const char* password = "quorvale-second-collection";

GDBusConnection* connectionOf(void* connection) {
    return static_cast<GDBusConnection*>(connection);
}

// A secret in the "plain" session's form: (session, parameters, value, content type).
GVariant* plainSecret(const QString& session, const QByteArray& value) {
    return g_variant_new(
        "(o@ay@ays)", session.toUtf8().constData(), g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
        g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, value.constData(), gsize(value.size()), 1),
        "application/octet-stream");
}

} // namespace

bool LockedCollection::call(const char* path, const char* interface, const char* method, void* parameters,
                            void** reply) {
    GError* error = nullptr;
    GVariant* result = g_dbus_connection_call_sync(connectionOf(m_connection), service, path, interface,
                                                   method, static_cast<GVariant*>(parameters), nullptr,
                                                   G_DBUS_CALL_FLAGS_NONE, 30000, nullptr, &error);
    if (!result) {
        m_error = QStringLiteral("%1: %2").arg(QLatin1String(method),
                                               QString::fromUtf8(error ? error->message : "no reply"));
        if (error)
            g_error_free(error);
        return false;
    }
    if (reply)
        *reply = result;
    else
        g_variant_unref(result);
    return true;
}

LockedCollection::LockedCollection() {
    // One locked test collection on a keyring at a time: the keyring daemon mishandles unlocks dismissed in
    // two programs at once (it has been seen to hang them both, and to lose a locked item from its searches),
    // so tests that run side by side on one keyring wait for each other here.
    const QByteArray lockPath = QDir(qEnvironmentVariable("XDG_RUNTIME_DIR", QDir::tempPath()))
                                    .filePath("quorvale-locked-collection.lock")
                                    .toLocal8Bit();
    m_turn = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_turn < 0 || ::flock(m_turn, LOCK_EX) != 0) {
        m_error = QStringLiteral("cannot take the turn for a locked collection at ") +
                  QString::fromLocal8Bit(lockPath);
        return;
    }
    GError* error = nullptr;
    m_connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!m_connection) {
        m_error = QString::fromUtf8(error ? error->message : "no session bus");
        if (error)
            g_error_free(error);
        return;
    }
    void* reply = nullptr;
    if (!call(servicePath, "org.freedesktop.Secret.Service", "OpenSession",
              g_variant_new("(s@v)", "plain", g_variant_new_variant(g_variant_new_string(""))), &reply))
        return;
    GVariant* output = nullptr;
    const gchar* session = nullptr;
    g_variant_get(static_cast<GVariant*>(reply), "(v&o)", &output, &session);
    m_session = QString::fromUtf8(session);
    g_variant_unref(output);
    g_variant_unref(static_cast<GVariant*>(reply));

    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
    const QByteArray label = QStringLiteral("Quorvale test %1").arg(QUuid::createUuid().toString()).toUtf8();
    g_variant_builder_add(&properties, "{sv}", "org.freedesktop.Secret.Collection.Label",
                          g_variant_new_string(label.constData()));
    if (!call(servicePath, "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface",
              "CreateWithMasterPassword",
              g_variant_new("(a{sv}@(oayays))", &properties, plainSecret(m_session, password)), &reply))
        return;
    const gchar* path = nullptr;
    g_variant_get(static_cast<GVariant*>(reply), "(&o)", &path);
    m_path = QString::fromUtf8(path);
    g_variant_unref(static_cast<GVariant*>(reply));
}

LockedCollection::~LockedCollection() {
    if (!m_path.isEmpty()) {
        unlock();
        call(m_path.toUtf8().constData(), "org.freedesktop.Secret.Collection", "Delete", nullptr, nullptr);
    }
    if (m_connection)
        g_object_unref(connectionOf(m_connection));
    if (m_turn >= 0)
        ::close(m_turn);
}

bool LockedCollection::file(const QString& tag, const QByteArray& secret) {
    if (m_path.isEmpty())
        return false;
    GVariantBuilder attributes;
    g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
    const QByteArray tagUtf8 = tag.toUtf8();
    g_variant_builder_add(&attributes, "{ss}", "application-tag", tagUtf8.constData());
    g_variant_builder_add(&attributes, "{ss}", "key-type", "rsa");
    g_variant_builder_add(&attributes, "{ss}", "xdg:schema", "com.quorvale.DeviceKey");
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&properties, "{sv}", "org.freedesktop.Secret.Item.Label",
                          g_variant_new_string("Quorvale device key"));
    g_variant_builder_add(&properties, "{sv}", "org.freedesktop.Secret.Item.Attributes",
                          g_variant_builder_end(&attributes));
    return call(m_path.toUtf8().constData(), "org.freedesktop.Secret.Collection", "CreateItem",
                g_variant_new("(a{sv}@(oayays)b)", &properties, plainSecret(m_session, secret), FALSE),
                nullptr);
}

bool LockedCollection::lock() {
    if (m_path.isEmpty())
        return false;
    const QByteArray path = m_path.toUtf8();
    const gchar* objects[] = {path.constData(), nullptr};
    return call(servicePath, "org.freedesktop.Secret.Service", "Lock", g_variant_new("(^ao)", objects),
                nullptr);
}

bool LockedCollection::unlock() {
    if (m_path.isEmpty())
        return false;
    return call(servicePath, "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface",
                "UnlockWithMasterPassword",
                g_variant_new("(o@(oayays))", m_path.toUtf8().constData(), plainSecret(m_session, password)),
                nullptr);
}
