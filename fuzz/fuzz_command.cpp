// A command one start of the client sends to the running one, and a reply
// that comes back: both are read from another process.
#include "fuzzsupport.h"

#include "instancecommand.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    if (const std::optional<InstanceCommand::Command> command = InstanceCommand::decode(bytes)) {
        // An accepted command is one the sender could have written, and reads
        // back the same.
        const std::optional<InstanceCommand::Command> again
            = InstanceCommand::decode(InstanceCommand::encode(*command));
        if (!again || again->action != command->action || again->profile != command->profile
            || again->oneTimePassword != command->oneTimePassword || again->wait != command->wait
            || (command->action == InstanceCommand::Action::Connect && command->profile.isEmpty())
            || command->profile.size() > InstanceCommand::maxProfileLength
            || command->oneTimePassword.size() > InstanceCommand::maxOneTimePasswordLength)
            std::abort();
    }
    if (const std::optional<InstanceCommand::Reply> reply = InstanceCommand::decodeReply(bytes)) {
        const std::optional<InstanceCommand::Reply> again
            = InstanceCommand::decodeReply(InstanceCommand::encodeReply(*reply));
        if (!again || again->outcome != reply->outcome || again->message != reply->message
            || again->status.has_value() != reply->status.has_value() || again->profiles != reply->profiles)
            std::abort();
    }
    return 0;
}
