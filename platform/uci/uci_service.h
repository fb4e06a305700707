// The ubus object "uci": "get", "delete" and "commit" over the configuration files of one
// directory. Deletions are kept as pending changes, visible to later "get" calls, until
// "commit" writes the file (a temporary file renamed over the old one).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "libubus.h"
#include "uci_config.h"

namespace uci {

class Service {
public:
    explicit Service(std::string configDir);
    // Publishes the object on `ctx`; a ubus status.
    int publish(ubus_context *ctx);

    int get(ubus_context *ctx, ubus_request_data *req, blob_attr *msg);
    int remove(blob_attr *msg);
    int commit(blob_attr *msg);

private:
    struct Delete {
        std::string section;
        std::string option;  // empty: the whole section
    };
    // Reads the configuration with its pending changes; a ubus status.
    int load(const std::string &config, Config &out);

    std::string dir_;
    std::map<std::string, std::vector<Delete>> pending_;
    ubus_object object_{};
};

}  // namespace uci
