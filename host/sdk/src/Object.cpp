#include "corvanta/Object.h"

#include <algorithm>
#include <utility>

namespace corvanta {

EventEmitter::EventEmitter() = default;
EventEmitter::~EventEmitter() = default;

EventEmitter::ListenerId EventEmitter::subscribe(const std::string& event, Listener listener) {
    std::lock_guard lock(mutex);
    const ListenerId id = nextId++;
    subscriptions.push_back({id, event, std::move(listener)});
    return id;
}

void EventEmitter::unsubscribe(ListenerId id) {
    std::lock_guard lock(mutex);
    std::erase_if(subscriptions, [id](const Subscription& subscription) { return subscription.id == id; });
}

void EventEmitter::emitEvent(const std::string& event, const CVAny& data) {
    // Call copies outside the lock, so a listener may subscribe or unsubscribe.
    std::vector<Listener> listeners;
    {
        std::lock_guard lock(mutex);
        for (const auto& subscription : subscriptions) {
            if (subscription.event == event && subscription.listener) listeners.push_back(subscription.listener);
        }
    }
    for (const auto& listener : listeners) listener(data);
}

CorvantaObject::CorvantaObject() = default;
CorvantaObject::~CorvantaObject() = default;

Result<void> CorvantaObject::setValue(const std::string& key, const CVAny& /*value*/) {
    return Result<void>::failure("Unknown property: " + key);
}

Result<CVAny> CorvantaObject::getValue(const std::string& key) {
    return Result<CVAny>::failure("Unknown property: " + key);
}

Result<CVAny> CorvantaObject::callAction(const std::string& name, const CVAnyMap& params) {
    const auto handler = actionHandlers.find(name);
    if (handler == actionHandlers.end()) return Result<CVAny>::failure("Unknown action: " + name);
    if (!handler->second) return Result<CVAny>::failure("Action has no handler: " + name);
    return handler->second(params);
}

void CorvantaObject::registerEvent(const std::string& name, const CVAnyMap& descriptor) {
    events.insert_or_assign(name, descriptor);
}

void CorvantaObject::registerAction(const std::string& name, const CVAnyMap& descriptor, ActionHandler handler) {
    actionDescriptors.insert_or_assign(name, descriptor);
    actionHandlers.insert_or_assign(name, std::move(handler));
}

}  // namespace corvanta
