// Lists with their own mutex: any thread may add and take items.
#include "tinyloop.h"

#include <cstdlib>

namespace {

struct ListLock {
    explicit ListLock(tl_list_t *list) : list_(list) { pthread_mutex_lock(&list_->lock); }
    ~ListLock() { pthread_mutex_unlock(&list_->lock); }
    ListLock(const ListLock &) = delete;
    ListLock &operator=(const ListLock &) = delete;
    tl_list_t *list_;
};

// Unlinks `node`, whose predecessor is `prev` (null for the head). Caller holds the lock.
void unlink(tl_list_t *list, tl_list_node_t *prev, tl_list_node_t *node) {
    if (prev) prev->next = node->next;
    else list->first = node->next;
    if (list->last == node) list->last = prev;
    list->count--;
    free(node);
}

}  // namespace

extern "C" {

tl_list_t *tl_list_new(void) {
    auto *list = static_cast<tl_list_t *>(calloc(1, sizeof(tl_list_t)));
    if (!list) return nullptr;
    if (pthread_mutex_init(&list->lock, nullptr) != 0) {
        free(list);
        return nullptr;
    }
    return list;
}

int tl_list_add(tl_list_t *list, void *item) {
    if (!list) return -1;
    auto *node = static_cast<tl_list_node_t *>(calloc(1, sizeof(tl_list_node_t)));
    if (!node) return -1;
    node->item = item;
    ListLock guard(list);
    if (list->last) list->last->next = node;
    else list->first = node;
    list->last = node;
    list->count++;
    return 0;
}

void *tl_list_get(tl_list_t *list) {
    if (!list) return nullptr;
    ListLock guard(list);
    tl_list_node_t *node = list->first;
    if (!node) return nullptr;
    void *item = node->item;
    unlink(list, nullptr, node);
    return item;
}

void *tl_list_find(tl_list_t *list, int (*predicate)(void *item)) {
    if (!list || !predicate) return nullptr;
    ListLock guard(list);
    for (tl_list_node_t *node = list->first; node; node = node->next)
        if (predicate(node->item)) return node->item;
    return nullptr;
}

int tl_list_delete(tl_list_t *list, void *item) {
    if (!list) return -1;
    ListLock guard(list);
    tl_list_node_t *prev = nullptr;
    for (tl_list_node_t *node = list->first; node; prev = node, node = node->next) {
        if (node->item == item) {
            unlink(list, prev, node);
            return 0;
        }
    }
    return -1;
}

void tl_list_free(tl_list_t *list) {
    if (!list) return;
    tl_list_node_t *node = list->first;
    while (node) {
        tl_list_node_t *next = node->next;
        free(node);
        node = next;
    }
    pthread_mutex_destroy(&list->lock);
    free(list);
}

}  // extern "C"
