#include "platform/sim/virtual_tag.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace wynfc {

namespace {

const TagImage& checked(const TagImage& image) {
    image.validate();
    return image;
}

} // namespace

VirtualTag::VirtualTag(TagImage image)
    : uid_(checked(image).uid), blockCount_(image.blockCount), name_(image.name),
      description_(image.description), memory_(std::move(image.memory)),
      protected_(static_cast<std::size_t>(image.blockCount), false) {}

std::shared_ptr<VirtualTag> VirtualTag::load(const std::filesystem::path& file) {
    return std::make_shared<VirtualTag>(loadTagImage(file));
}

VirtualTag::ReadReply VirtualTag::readBlocks(int firstBlock, int count) {
    std::lock_guard lock(mutex_);
    ReadReply reply;
    reply.answer = beginOperationLocked(TagOperationKind::Read, firstBlock, count);
    if (reply.answer == TagAnswer::Ok) {
        for (int block = firstBlock; block < firstBlock + count; ++block) {
            const auto begin = memory_.begin() + block * kBlockSize;
            reply.blocks.emplace_back(begin, begin + kBlockSize);
        }
    }
    finishOperationLocked();
    return reply;
}

TagAnswer VirtualTag::writeBlocks(int firstBlock, std::span<const std::uint8_t> data) {
    std::lock_guard lock(mutex_);
    const bool wholeBlocks = !data.empty() && data.size() % kBlockSize == 0;
    const int count = static_cast<int>(data.size() / kBlockSize);
    TagAnswer answer = beginOperationLocked(TagOperationKind::Write, firstBlock, wholeBlocks ? count : 0);
    if (answer == TagAnswer::Ok) {
        const auto first = static_cast<std::size_t>(firstBlock);
        const auto last = first + static_cast<std::size_t>(count);
        if (std::any_of(protected_.begin() + static_cast<std::ptrdiff_t>(first),
                        protected_.begin() + static_cast<std::ptrdiff_t>(last), [](bool p) { return p; })) {
            answer = TagAnswer::BlockProtected;
        } else {
            std::copy(data.begin(), data.end(),
                      memory_.begin() + static_cast<std::ptrdiff_t>(first * kBlockSize));
        }
    }
    finishOperationLocked();
    return answer;
}

TagAnswer VirtualTag::beginOperationLocked(TagOperationKind operation, int firstBlock, int count) {
    ++operationCount_;
    if (leftField_) {
        return TagAnswer::Gone;
    }
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        const bool touches = !it->block || (*it->block >= firstBlock && *it->block < firstBlock + count);
        if (it->operation != operation || !touches) {
            continue;
        }
        const TagAnswer answer = it->answer;
        if (it->timesLeft != kEveryTime && --it->timesLeft == 0) {
            faults_.erase(it);
        }
        if (answer != TagAnswer::Ok) {
            return answer;
        }
        break;
    }
    if (!inRange(firstBlock, count)) {
        return TagAnswer::BlockOutOfRange;
    }
    return TagAnswer::Ok;
}

void VirtualTag::finishOperationLocked() {
    if (leftField_ || !operationsBeforeLeaving_) {
        return;
    }
    if (--*operationsBeforeLeaving_ <= 0) {
        operationsBeforeLeaving_.reset();
        leftField_ = true;
    }
}

bool VirtualTag::inRange(int firstBlock, int count) const {
    return firstBlock >= 0 && count > 0 && count <= blockCount_ && firstBlock <= blockCount_ - count;
}

TagImage VirtualTag::image() const {
    TagImage image;
    image.name = name_;
    image.description = description_;
    image.uid = uid_;
    image.blockCount = blockCount_;
    image.memory = memory();
    return image;
}

void VirtualTag::save(const std::filesystem::path& file) const {
    saveTagImage(image(), file);
}

Bytes VirtualTag::memory() const {
    std::lock_guard lock(mutex_);
    return memory_;
}

Bytes VirtualTag::blockBytes(int firstBlock, int count) const {
    std::lock_guard lock(mutex_);
    if (!inRange(firstBlock, count)) {
        throw std::out_of_range("blocks " + std::to_string(firstBlock) + "+" + std::to_string(count) +
                                " outside the tag's " + std::to_string(blockCount_) + " blocks");
    }
    const auto begin = memory_.begin() + firstBlock * kBlockSize;
    return Bytes(begin, begin + count * kBlockSize);
}

void VirtualTag::setMemory(int firstBlock, std::span<const std::uint8_t> data) {
    std::lock_guard lock(mutex_);
    const auto offset = static_cast<long long>(firstBlock) * kBlockSize;
    if (firstBlock < 0 ||
        offset + static_cast<long long>(data.size()) > static_cast<long long>(memory_.size())) {
        throw std::out_of_range("bytes from block " + std::to_string(firstBlock) +
                                " outside the tag's memory");
    }
    std::copy(data.begin(), data.end(), memory_.begin() + offset);
}

void VirtualTag::protectBlock(int block, bool isProtected) {
    std::lock_guard lock(mutex_);
    protected_.at(static_cast<std::size_t>(block)) = isProtected;
}

bool VirtualTag::isProtected(int block) const {
    std::lock_guard lock(mutex_);
    return block >= 0 && block < blockCount_ && protected_[static_cast<std::size_t>(block)];
}

void VirtualTag::injectFault(TagOperationKind operation, TagAnswer answer, std::optional<int> block,
                             int times) {
    if (times == 0) {
        return;
    }
    std::lock_guard lock(mutex_);
    faults_.push_back(Fault{operation, answer, block, times < 0 ? kEveryTime : times});
}

void VirtualTag::leaveFieldAfter(int operations) {
    std::lock_guard lock(mutex_);
    if (operations <= 0) {
        operationsBeforeLeaving_.reset();
        leftField_ = true;
    } else {
        operationsBeforeLeaving_ = operations;
    }
}

bool VirtualTag::hasLeftField() const {
    std::lock_guard lock(mutex_);
    return leftField_;
}

void VirtualTag::returnToField() {
    std::lock_guard lock(mutex_);
    leftField_ = false;
    operationsBeforeLeaving_.reset();
}

void VirtualTag::clearFaults() {
    std::lock_guard lock(mutex_);
    faults_.clear();
    operationsBeforeLeaving_.reset();
}

int VirtualTag::operationCount() const {
    std::lock_guard lock(mutex_);
    return operationCount_;
}

} // namespace wynfc
