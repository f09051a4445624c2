#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "corvanta/CVAny.h"
#include "corvanta/Export.h"
#include "corvanta/Result.h"

namespace corvanta {

// Delivers named events to the listeners subscribed to them, synchronously,
// on the emitting thread, in subscription order. Listeners run without the
// emitter's lock, so they may subscribe and unsubscribe; such changes apply
// from the next emission.
class CORVANTA_API EventEmitter {
public:
    using Listener = std::function<void(const CVAny& data)>;
    using ListenerId = std::uint64_t;

    EventEmitter();
    EventEmitter(const EventEmitter&) = delete;
    EventEmitter& operator=(const EventEmitter&) = delete;
    virtual ~EventEmitter();

    ListenerId subscribe(const std::string& event, Listener listener);
    void unsubscribe(ListenerId id);
    void emitEvent(const std::string& event, const CVAny& data);

private:
    struct Subscription {
        ListenerId id;
        std::string event;
        Listener listener;
    };
    std::mutex mutex;
    std::vector<Subscription> subscriptions;
    ListenerId nextId = 1;
};

// Base of everything the host exposes: properties, actions and events with
// descriptor maps. What the base does not serve answers an error Result naming
// it: "Unknown property: <key>", "Unknown action: <name>", and
// "Action has no handler: <name>" for an action registered with an empty
// handler (a subclass serves those through its callAction override).
class CORVANTA_API CorvantaObject : public EventEmitter {
public:
    using ActionHandler = std::function<Result<CVAny>(const CVAnyMap& params)>;

    ~CorvantaObject() override;

    virtual Result<void> setValue(const std::string& key, const CVAny& value);
    virtual Result<CVAny> getValue(const std::string& key);
    // Runs the handler registered for the action when it has one.
    virtual Result<CVAny> callAction(const std::string& name, const CVAnyMap& params);

    // Descriptors as registered, keyed by name.
    const std::map<std::string, CVAnyMap>& getEventDescriptors() const { return events; }
    const std::map<std::string, CVAnyMap>& getActionDescriptors() const { return actionDescriptors; }

protected:
    CorvantaObject();

    void registerEvent(const std::string& name, const CVAnyMap& descriptor);
    void registerAction(const std::string& name, const CVAnyMap& descriptor, ActionHandler handler);

private:
    std::map<std::string, CVAnyMap> events;
    std::map<std::string, CVAnyMap> actionDescriptors;
    std::map<std::string, ActionHandler> actionHandlers;
};

}  // namespace corvanta
