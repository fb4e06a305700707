// Methods of the "uci" object.
#include "uci_service.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace uci {

namespace {

Service *gService;  // the one instance the handlers serve

enum { GET_CONFIG, GET_SECTION, GET_OPTION, GET_COUNT };
const blobmsg_policy kGetPolicy[GET_COUNT] = {
    {"config", BLOBMSG_TYPE_STRING}, {"section", BLOBMSG_TYPE_STRING}, {"option", BLOBMSG_TYPE_STRING}};

enum { DEL_CONFIG, DEL_SECTION, DEL_OPTION, DEL_OPTIONS, DEL_COUNT };
const blobmsg_policy kDeletePolicy[DEL_COUNT] = {{"config", BLOBMSG_TYPE_STRING},
                                                 {"section", BLOBMSG_TYPE_STRING},
                                                 {"option", BLOBMSG_TYPE_STRING},
                                                 {"options", BLOBMSG_TYPE_ARRAY}};

enum { COMMIT_CONFIG, COMMIT_COUNT };
const blobmsg_policy kCommitPolicy[COMMIT_COUNT] = {{"config", BLOBMSG_TYPE_STRING}};

int handleGet(ubus_context *ctx, ubus_object *, ubus_request_data *req, const char *, blob_attr *msg) {
    return gService->get(ctx, req, msg);
}
int handleDelete(ubus_context *, ubus_object *, ubus_request_data *, const char *, blob_attr *msg) {
    return gService->remove(msg);
}
int handleCommit(ubus_context *, ubus_object *, ubus_request_data *, const char *, blob_attr *msg) {
    return gService->commit(msg);
}

const ubus_method kMethods[] = {
    UBUS_METHOD("get", handleGet, kGetPolicy),
    UBUS_METHOD("delete", handleDelete, kDeletePolicy),
    UBUS_METHOD("commit", handleCommit, kCommitPolicy),
};
ubus_object_type kType = UBUS_OBJECT_TYPE("uci", kMethods);

template <size_t N>
bool parseArgs(const blobmsg_policy (&policy)[N], blob_attr *(&tb)[N], blob_attr *msg) {
    return blobmsg_parse(policy, static_cast<int>(N), tb, blob_data(msg), static_cast<unsigned>(blob_len(msg))) == 0;
}

void addOptionValue(blob_buf *b, const char *name, const Option &o) {
    if (!o.isList) {
        blobmsg_add_string(b, name, o.value.c_str());
        return;
    }
    void *list = blobmsg_open_array(b, name);
    for (const std::string &item : o.items) blobmsg_add_string(b, nullptr, item.c_str());
    blobmsg_close_array(b, list);
}

void addSection(blob_buf *b, const Section &s, int index) {
    blobmsg_add_u8(b, ".anonymous", s.anonymous ? 1 : 0);
    blobmsg_add_string(b, ".type", s.type.c_str());
    blobmsg_add_string(b, ".name", s.name.c_str());
    if (index >= 0) blobmsg_add_u32(b, ".index", static_cast<uint32_t>(index));
    for (const Option &o : s.options) addOptionValue(b, o.name.c_str(), o);
}

bool readFile(const std::string &path, std::string &text, bool &missing, std::string &error) {
    missing = false;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        missing = errno == ENOENT;
        error = strerror(errno);
        return false;
    }
    text.clear();
    char buf[8192];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) {
        text.append(buf, static_cast<size_t>(n));
        if (text.size() > kMaxFileSize) {
            close(fd);
            error = "file larger than 1 MiB";
            return false;
        }
    }
    close(fd);
    if (n < 0) {
        error = strerror(errno);
        return false;
    }
    return true;
}

// Writes next to the target and renames it over, so a crash leaves the old or the new file.
bool writeFileAtomically(const std::string &path, const std::string &text, std::string &error) {
    size_t slash = path.find_last_of('/');
    std::string tmp = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "." +
          path.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) {
        error = strerror(errno);
        return false;
    }
    bool ok = fchmod(fd, 0644) == 0;
    size_t done = 0;
    while (ok && done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    if (!ok) error = strerror(errno);
    if (close(fd) != 0 && ok) {
        ok = false;
        error = strerror(errno);
    }
    if (ok && rename(name.data(), path.c_str()) != 0) {
        ok = false;
        error = strerror(errno);
    }
    if (!ok) unlink(name.data());
    return ok;
}

}  // namespace

Service::Service(std::string configDir) : dir_(std::move(configDir)) {
    object_.name = "uci";
    object_.type = &kType;
    object_.methods = kMethods;
    object_.n_methods = static_cast<int>(ARRAY_SIZE(kMethods));
}

int Service::publish(ubus_context *ctx) {
    gService = this;
    return ubus_add_object(ctx, &object_);
}

int Service::load(const std::string &config, Config &out) {
    if (!validConfigName(config)) return UBUS_STATUS_INVALID_ARGUMENT;
    std::string path = dir_ + "/" + config;
    std::string text, error;
    bool missing = false;
    if (!readFile(path, text, missing, error)) {
        if (missing) return UBUS_STATUS_NOT_FOUND;
        fprintf(stderr, "uci: cannot read %s: %s\n", path.c_str(), error.c_str());
        return UBUS_STATUS_UNKNOWN_ERROR;
    }
    ParseError perr;
    if (!parse(text, out, perr)) {
        fprintf(stderr, "uci: %s:%d: %s\n", path.c_str(), perr.line, perr.reason.c_str());
        return UBUS_STATUS_UNKNOWN_ERROR;
    }
    for (const Delete &d : pending_[config]) {
        if (d.option.empty()) out.erase(d.section);
        else if (Section *s = out.find(d.section)) s->erase(d.option);
    }
    return UBUS_STATUS_OK;
}

int Service::get(ubus_context *ctx, ubus_request_data *req, blob_attr *msg) {
    blob_attr *tb[GET_COUNT];
    if (!parseArgs(kGetPolicy, tb, msg) || !tb[GET_CONFIG]) return UBUS_STATUS_INVALID_ARGUMENT;
    Config config;
    int status = load(blobmsg_get_string(tb[GET_CONFIG]), config);
    if (status != UBUS_STATUS_OK) return status;
    blob_buf b{};
    if (blobmsg_buf_init(&b) != 0) return UBUS_STATUS_NO_MEMORY;
    bool reply = true;
    if (tb[GET_SECTION]) {
        Section *s = config.find(blobmsg_get_string(tb[GET_SECTION]));
        if (!s) {
            reply = false;  // a missing section is no data, not an error
        } else if (tb[GET_OPTION]) {
            Option *o = s->find(blobmsg_get_string(tb[GET_OPTION]));
            if (o) addOptionValue(&b, "value", *o);
            else reply = false;
        } else {
            void *values = blobmsg_open_table(&b, "values");
            addSection(&b, *s, -1);
            blobmsg_close_table(&b, values);
        }
    } else {
        void *values = blobmsg_open_table(&b, "values");
        int index = 0;
        for (const Section &s : config.sections) {
            void *table = blobmsg_open_table(&b, s.name.c_str());
            addSection(&b, s, index++);
            blobmsg_close_table(&b, table);
        }
        blobmsg_close_table(&b, values);
    }
    if (reply) status = ubus_send_reply(ctx, req, b.head);
    blob_buf_free(&b);
    return status;
}

int Service::remove(blob_attr *msg) {
    blob_attr *tb[DEL_COUNT];
    if (!parseArgs(kDeletePolicy, tb, msg) || !tb[DEL_CONFIG] || !tb[DEL_SECTION]) return UBUS_STATUS_INVALID_ARGUMENT;
    std::string name = blobmsg_get_string(tb[DEL_CONFIG]);
    std::string ref = blobmsg_get_string(tb[DEL_SECTION]);
    if (!validSectionRef(ref)) return UBUS_STATUS_INVALID_ARGUMENT;
    Config config;
    int status = load(name, config);
    if (status != UBUS_STATUS_OK) return status;
    Section *s = config.find(ref);
    if (!s) return UBUS_STATUS_NOT_FOUND;
    std::vector<Delete> &changes = pending_[name];
    if (tb[DEL_OPTION]) {
        std::string option = blobmsg_get_string(tb[DEL_OPTION]);
        if (!s->find(option)) return UBUS_STATUS_NOT_FOUND;
        changes.push_back(Delete{s->name, option});
        return UBUS_STATUS_OK;
    }
    if (tb[DEL_OPTIONS]) {
        bool removed = false;
        blob_attr *item;
        size_t rem;
        blobmsg_for_each_attr(item, tb[DEL_OPTIONS], rem) {
            if (blobmsg_type(item) != BLOBMSG_TYPE_STRING) continue;
            std::string option = blobmsg_get_string(item);
            if (!s->find(option)) continue;
            s->erase(option);
            changes.push_back(Delete{s->name, option});
            removed = true;
        }
        return removed ? UBUS_STATUS_OK : UBUS_STATUS_NOT_FOUND;
    }
    changes.push_back(Delete{s->name, ""});
    return UBUS_STATUS_OK;
}

int Service::commit(blob_attr *msg) {
    blob_attr *tb[COMMIT_COUNT];
    if (!parseArgs(kCommitPolicy, tb, msg) || !tb[COMMIT_CONFIG]) return UBUS_STATUS_INVALID_ARGUMENT;
    std::string name = blobmsg_get_string(tb[COMMIT_CONFIG]);
    Config config;
    int status = load(name, config);
    if (status != UBUS_STATUS_OK) return status;
    auto it = pending_.find(name);
    if (it == pending_.end() || it->second.empty()) return UBUS_STATUS_OK;  // nothing to write
    std::string path = dir_ + "/" + name, error;
    if (!writeFileAtomically(path, format(config), error)) {
        fprintf(stderr, "uci: cannot write %s: %s\n", path.c_str(), error.c_str());
        return UBUS_STATUS_UNKNOWN_ERROR;
    }
    pending_.erase(it);
    return UBUS_STATUS_OK;
}

}  // namespace uci
