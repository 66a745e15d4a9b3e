#include "store/Vault.h"

#include "store/VaultSchema.h"

#include <QByteArray>
#include <QStringDecoder>
#include <chrono>
#include <gio/gio.h>
#include <libsecret/secret.h>
#include <memory>

namespace quillo {

const SecretSchema& vaultSchema() {
    static const SecretSchema value = [] {
        SecretSchema made{};
        made.name = vaultService.data();
        made.flags = SECRET_SCHEMA_NONE;
        made.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        made.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return made;
    }();
    return value;
}

namespace {

// The same two attributes without the schema's name: a keyring loaded locked
// from disk exposes only hashed attributes, and libsecret's name attribute
// never matches there, so a lookup by name would miss a locked item.
const SecretSchema& searchSchema() {
    static const SecretSchema value = [] {
        SecretSchema made = vaultSchema();
        made.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        return made;
    }();
    return value;
}

using namespace std::chrono_literals;

// Every step but an unlock has nothing to wait for but the bus itself, so a
// keyring that has stopped answering ends in a message within this.
constexpr std::chrono::milliseconds quietTimeout = 10s;
// An unlock may sit behind the keyring's prompt for as long as the reader reads it.
constexpr std::chrono::milliseconds promptTimeout = 300s;
// Once cancelled, an operation gets this long to wind down; after that the
// caller stops waiting for it.
constexpr std::chrono::milliseconds abandonGrace = 2s;

// Owns a GLib or libsecret handle and releases it with the given function.
template <auto release> struct Releaser {
    template <typename Handle> void operator()(Handle* handle) const { release(handle); }
};

void freeObjectList(GList* list) {
    g_list_free_full(list, g_object_unref);
}

template <typename T> using Object = std::unique_ptr<T, Releaser<g_object_unref>>;
using Error = std::unique_ptr<GError, Releaser<g_error_free>>;
using Chars = std::unique_ptr<gchar, Releaser<g_free>>;
using Attributes = std::unique_ptr<GHashTable, Releaser<g_hash_table_unref>>;
using Value = std::unique_ptr<SecretValue, Releaser<secret_value_unref>>;
using ItemList = std::unique_ptr<GList, Releaser<freeObjectList>>;

// One conversation with the keyring, on a main context of its own, so it is
// safe on any thread and never runs another thread's callbacks. A deadline
// cancels whatever is outstanding; an operation that then still does not
// finish is abandoned (its late completion is never dispatched).
class Call {
public:
    explicit Call(std::chrono::milliseconds timeout) : context_(g_main_context_new()) {
        g_main_context_push_thread_default(context_);
        deadline_ = attachTimer(timeout);
    }

    ~Call() {
        destroyTimer(deadline_);
        destroyTimer(grace_);
        // Let released proxies and the connection finish their idle work.
        for (int turn = 0; turn < 100 && g_main_context_iteration(context_, FALSE) != FALSE;
             ++turn) {
        }
        g_main_context_pop_thread_default(context_);
        g_main_context_unref(context_);
    }

    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    [[nodiscard]] GCancellable* cancellable() const { return cancellable_.get(); }
    [[nodiscard]] bool timedOut() const { return timedOut_; }

    // A new deadline from now, for a step that may wait on the reader.
    void allow(std::chrono::milliseconds timeout) {
        destroyTimer(deadline_);
        deadline_ = attachTimer(timeout);
    }

    // Starts an asynchronous operation with this call's cancellable and waits
    // for its result; null when it was abandoned.
    template <typename Start> Object<GAsyncResult> await(Start start) {
        auto pending = std::make_shared<Pending>();
        start(cancellable(), &Call::onReady, new std::shared_ptr<Pending>(pending));
        while (pending->result == nullptr && !abandoned_) {
            g_main_context_iteration(context_, TRUE);
        }
        if (pending->result == nullptr) {
            return nullptr;
        }
        return Object<GAsyncResult>(G_ASYNC_RESULT(g_object_ref(pending->result)));
    }

private:
    struct Pending {
        GAsyncResult* result = nullptr;
        Pending() = default;
        Pending(const Pending&) = delete;
        Pending& operator=(const Pending&) = delete;
        ~Pending() {
            if (result != nullptr) {
                g_object_unref(result);
            }
        }
    };

    static void onReady(GObject* /*source*/, GAsyncResult* result, gpointer data) {
        auto* pending = static_cast<std::shared_ptr<Pending>*>(data);
        (*pending)->result = G_ASYNC_RESULT(g_object_ref(result));
        delete pending;
    }

    static gboolean onTimer(gpointer data) {
        auto* call = static_cast<Call*>(data);
        if (!call->timedOut_) {
            call->timedOut_ = true;
            g_cancellable_cancel(call->cancellable());
            call->grace_ = call->attachTimer(abandonGrace);
        } else {
            call->abandoned_ = true;
        }
        return G_SOURCE_REMOVE;
    }

    GSource* attachTimer(std::chrono::milliseconds delay) {
        GSource* timer = g_timeout_source_new(static_cast<guint>(delay.count()));
        g_source_set_callback(timer, &Call::onTimer, this, nullptr);
        g_source_attach(timer, context_);
        return timer;
    }

    static void destroyTimer(GSource* timer) {
        if (timer != nullptr) {
            g_source_destroy(timer);
            g_source_unref(timer);
        }
    }

    GMainContext* context_;
    Object<GCancellable> cancellable_{g_cancellable_new()};
    GSource* deadline_ = nullptr;
    GSource* grace_ = nullptr;
    bool timedOut_ = false;
    bool abandoned_ = false;
};

VaultError timedOut() {
    return {G_IO_ERROR_TIMED_OUT, "The keyring did not answer in time", KeyringProblem::timedOut};
}

VaultError failure(const Call& call, const GError* error) {
    if (call.timedOut() || g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY)) {
        return timedOut();
    }
    if (error == nullptr) {
        return {-1, "The keyring refused the request"};
    }
    if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER)) {
        return {error->code, "No keyring service is running on this desktop",
                KeyringProblem::noService};
    }
    if (g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED)) {
        return {error->code, "The keyring is locked", KeyringProblem::locked};
    }
    // Our own cancellable fires only on the deadline, handled above: this is
    // the reader dismissing the keyring's prompt.
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
        return {error->code, "The keyring is locked", KeyringProblem::dismissed};
    }
    Error copy(g_error_copy(error));
    g_dbus_error_strip_remote_error(copy.get());
    return {error->code, copy->message};
}

// A fresh service proxy per call instead of libsecret's process-wide cached
// one, which would outlive the bus it first met. The session bus connection
// is GLib's shared one; holding it only for the call lets GLib make a new one
// once the old bus has gone.
struct Keyring {
    Object<GDBusConnection> connection;
    Object<SecretService> service;
};

Keyring connect(Call& call) {
    const auto connected =
        call.await([](GCancellable* cancellable, GAsyncReadyCallback ready, gpointer data) {
            g_bus_get(G_BUS_TYPE_SESSION, cancellable, ready, data);
        });
    if (!connected) {
        throw timedOut();
    }
    GError* rawError = nullptr;
    Keyring keyring;
    keyring.connection.reset(g_bus_get_finish(connected.get(), &rawError));
    if (!keyring.connection || g_dbus_connection_is_closed(keyring.connection.get()) != FALSE) {
        const Error error(rawError);
        if (call.timedOut()) {
            throw timedOut();
        }
        throw VaultError(error ? error->code : G_IO_ERROR_CLOSED,
                         "No desktop session bus is available for the keyring");
    }
    // The shared connection otherwise ends the whole process when the bus
    // goes away; losing the keyring must cost a secret, not the application.
    g_dbus_connection_set_exit_on_close(keyring.connection.get(), FALSE);

    const auto opened =
        call.await([](GCancellable* cancellable, GAsyncReadyCallback ready, gpointer data) {
            secret_service_open(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_NONE, cancellable,
                                ready, data);
        });
    if (!opened) {
        throw timedOut();
    }
    keyring.service.reset(secret_service_open_finish(opened.get(), &rawError));
    if (!keyring.service) {
        const Error error(rawError);
        throw failure(call, error.get());
    }
    return keyring;
}

Attributes attributesFor(const QString& account) {
    const QByteArray accountBytes = account.toUtf8();
    return Attributes(secret_attributes_build(&vaultSchema(), "service", vaultService.data(),
                                              "account", accountBytes.constData(), nullptr));
}

ItemList search(Call& call, const Keyring& keyring, GHashTable* attributes, int flags) {
    const auto searched =
        call.await([&](GCancellable* cancellable, GAsyncReadyCallback ready, gpointer data) {
            secret_service_search(keyring.service.get(), &searchSchema(), attributes,
                                  static_cast<SecretSearchFlags>(flags), cancellable, ready, data);
        });
    if (!searched) {
        throw timedOut();
    }
    GError* rawError = nullptr;
    ItemList items(secret_service_search_finish(keyring.service.get(), searched.get(), &rawError));
    if (rawError != nullptr) {
        const Error error(rawError);
        throw failure(call, error.get());
    }
    return items;
}

// One asynchronous step that answers only done or an error.
template <typename Start, typename Finish> void perform(Call& call, Start start, Finish finish) {
    const auto done = call.await(start);
    if (!done) {
        throw timedOut();
    }
    GError* rawError = nullptr;
    if (finish(done.get(), &rawError) == FALSE) {
        const Error error(rawError);
        throw failure(call, error.get());
    }
}

void replaceSecret(Call& call, SecretItem* item, SecretValue* value) {
    perform(
        call,
        [&](GCancellable* cancellable, GAsyncReadyCallback ready, gpointer data) {
            secret_item_set_secret(item, value, cancellable, ready, data);
        },
        [&](GAsyncResult* result, GError** error) {
            return secret_item_set_secret_finish(item, result, error);
        });
}

// How many of the items the keyring unlocked: none when its prompt was dismissed.
int unlock(Call& call, const Keyring& keyring, GList* items) {
    call.allow(promptTimeout);
    const auto unlocked =
        call.await([&](GCancellable* cancellable, GAsyncReadyCallback ready, gpointer data) {
            secret_service_unlock(keyring.service.get(), items, cancellable, ready, data);
        });
    if (!unlocked) {
        throw timedOut();
    }
    call.allow(quietTimeout);
    GError* rawError = nullptr;
    GList* objects = nullptr;
    const int count =
        secret_service_unlock_finish(keyring.service.get(), unlocked.get(), &objects, &rawError);
    const ItemList owned(objects);
    if (rawError != nullptr) {
        const Error error(rawError);
        throw failure(call, error.get());
    }
    return count;
}

void loadSecret(Call& call, SecretItem* item) {
    perform(
        call,
        [&](GCancellable* cancellable, GAsyncReadyCallback ready, gpointer data) {
            secret_item_load_secret(item, cancellable, ready, data);
        },
        [&](GAsyncResult* result, GError** error) {
            return secret_item_load_secret_finish(item, result, error);
        });
}

// The label of the keyring (collection) that holds the item, for the reader;
// empty when the keyring does not say.
QString keyringLabel(Call& call, const Keyring& keyring, SecretItem* item) {
    const std::string itemPath = g_dbus_proxy_get_object_path(G_DBUS_PROXY(item));
    const std::string path = itemPath.substr(0, itemPath.rfind('/'));
    const auto answered = call.await([&](GCancellable* cancellable, GAsyncReadyCallback ready,
                                         gpointer data) {
        g_dbus_connection_call(keyring.connection.get(), "org.freedesktop.secrets", path.c_str(),
                               "org.freedesktop.DBus.Properties", "Get",
                               g_variant_new("(ss)", "org.freedesktop.Secret.Collection", "Label"),
                               G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, -1,
                               cancellable, ready, data);
    });
    if (!answered) {
        return {};
    }
    using Variant = std::unique_ptr<GVariant, Releaser<g_variant_unref>>;
    const Variant reply(
        g_dbus_connection_call_finish(keyring.connection.get(), answered.get(), nullptr));
    if (!reply) {
        return {};
    }
    GVariant* boxed = nullptr;
    g_variant_get(reply.get(), "(v)", &boxed);
    const Variant label(boxed);
    if (!g_variant_is_of_type(label.get(), G_VARIANT_TYPE_STRING)) {
        return {};
    }
    return QString::fromUtf8(g_variant_get_string(label.get(), nullptr));
}

// The account's item, found by service and account in whatever state its
// keyring is; libsecret prefers an unlocked one. Null when there is none.
ItemList findItem(Call& call, const Keyring& keyring, const QString& account) {
    const Attributes attributes = attributesFor(account);
    return search(call, keyring, attributes.get(), SECRET_SEARCH_NONE);
}

VaultLookup lockedIn(Call& call, const Keyring& keyring, SecretItem* item, KeyringProblem problem) {
    return {std::nullopt, problem, keyringLabel(call, keyring, item), {}};
}

VaultLookup failed(const VaultError& error) {
    return {std::nullopt, error.problem(), {}, QString::fromUtf8(error.what())};
}

void createItem(Call& call, const Keyring& keyring, GHashTable* attributes, const QString& account,
                SecretValue* value) {
    // Shown in keyring managers such as Seahorse.
    const QByteArray label = QStringLiteral("Quillo: %1").arg(account).toUtf8();
    perform(
        call,
        [&](GCancellable* cancellable, GAsyncReadyCallback ready, gpointer data) {
            secret_service_store(keyring.service.get(), &vaultSchema(), attributes,
                                 SECRET_COLLECTION_DEFAULT, label.constData(), value, cancellable,
                                 ready, data);
        },
        [&](GAsyncResult* result, GError** error) {
            return secret_service_store_finish(keyring.service.get(), result, error);
        });
}

std::optional<QString> decodedText(SecretValue* value) {
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(QByteArrayView(bytes, static_cast<qsizetype>(length)));
    if (decoder.hasError()) {
        return std::nullopt;
    }
    // A stored empty value is present, so it must not read as a null string.
    if (text.isNull()) {
        text = QStringLiteral("");
    }
    return text;
}

} // namespace

void Vault::save(const QString& value, const QString& account) {
    Call call(quietTimeout);
    const Keyring keyring = connect(call);
    const Attributes attributes = attributesFor(account);
    const QByteArray bytes = value.toUtf8();
    const Value secret(
        secret_value_new(bytes.constData(), static_cast<gssize>(bytes.size()), "text/plain"));

    // Update first, wherever the item lives; create it only when there is none.
    const ItemList items = search(call, keyring, attributes.get(), SECRET_SEARCH_ALL);
    if (!items) {
        createItem(call, keyring, attributes.get(), account, secret.get());
        return;
    }
    GList* locked = nullptr;
    for (GList* node = items.get(); node != nullptr; node = node->next) {
        if (secret_item_get_locked(SECRET_ITEM(node->data)) != FALSE) {
            locked = g_list_prepend(locked, node->data);
        }
    }
    const std::unique_ptr<GList, Releaser<g_list_free>> toUnlock(locked);
    if (toUnlock && unlock(call, keyring, toUnlock.get()) == 0) {
        throw VaultError(G_IO_ERROR_CANCELLED, "The keyring is locked", KeyringProblem::dismissed);
    }
    for (GList* node = items.get(); node != nullptr; node = node->next) {
        replaceSecret(call, SECRET_ITEM(node->data), secret.get());
    }
}

namespace {

enum class Reading : std::uint8_t { existence, quiet, interactive };

VaultLookup find(const QString& account, Reading reading) {
    try {
        Call call(quietTimeout);
        const Keyring keyring = connect(call);
        const ItemList items = findItem(call, keyring, account);
        if (!items) {
            return {std::nullopt, KeyringProblem::missing, {}, {}};
        }
        auto* item = SECRET_ITEM(items->data);
        if (secret_item_get_locked(item) != FALSE) {
            if (reading != Reading::interactive) {
                return lockedIn(call, keyring, item, KeyringProblem::locked);
            }
            if (unlock(call, keyring, items.get()) == 0) {
                return lockedIn(call, keyring, item, KeyringProblem::dismissed);
            }
        }
        if (reading == Reading::existence) {
            return {};
        }
        loadSecret(call, item);
        const Value value(secret_item_get_secret(item));
        // A value that is not text is of no use: the reader has to enter it again.
        const auto text = value ? decodedText(value.get()) : std::nullopt;
        if (!text) {
            return {std::nullopt, KeyringProblem::missing, {}, {}};
        }
        return {text, KeyringProblem::none, {}, {}};
    } catch (const VaultError& error) {
        return failed(error);
    }
}

} // namespace

VaultLookup Vault::lookup(const QString& account, bool interactive) {
    return find(account, interactive ? Reading::interactive : Reading::quiet);
}

VaultLookup Vault::probe(const QString& account) {
    return find(account, Reading::existence);
}

} // namespace quillo
