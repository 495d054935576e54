#include "reply_queue.h"

bool ReplyQueue::push(const Reply &reply)
{
    if (count_ == kCapacity)
        return false;
    items_[(head_ + count_) % kCapacity] = reply;
    ++count_;
    return true;
}
