// Socket data queue: byte-wise FIFO over pooled 4072-byte buffers.
#include "net/socket_data_queue.h"

#include "client/debug_log.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

namespace {

// The process-wide free list. Queues on different threads share it, so it is locked.
std::mutex pool_mutex;
private_socket_queue_buffer *pool_first = nullptr;
int pool_count = 0;

void report_queue(const char *kind, const char *operation, const char *text, uint32_t category) {
    char message[256];
    snprintf(message, sizeof message, "%s in qorl_socket_data_queue::%s(), %s", kind, operation,
             text);
    report_message(message, category, module_sockets);
}

} // namespace

private_socket_queue_buffer *private_socket_queue_buffer::get_buffer() {
    {
        std::lock_guard<std::mutex> lock(pool_mutex);
        if (pool_first != nullptr) {
            private_socket_queue_buffer *buffer = pool_first;
            pool_first = buffer->next;
            --pool_count;
            buffer->fill = 0;
            buffer->read_position = 0;
            buffer->next = nullptr;
            buffer->data[0] = 0;
            return buffer;
        }
    }
    auto *buffer = new (std::nothrow) private_socket_queue_buffer;
    if (buffer == nullptr)
        return nullptr;
    buffer->fill = 0;
    buffer->read_position = 0;
    buffer->next = nullptr;
    memset(buffer->data, 0, sizeof buffer->data);
    return buffer;
}

void private_socket_queue_buffer::release_buffers(private_socket_queue_buffer **chain) {
    if (chain == nullptr)
        return;
    std::lock_guard<std::mutex> lock(pool_mutex);
    while (*chain != nullptr) {
        private_socket_queue_buffer *buffer = *chain;
        *chain = buffer->next;
        buffer->next = pool_first;
        pool_first = buffer;
        ++pool_count;
    }
}

int private_socket_queue_buffer::pool_size() {
    std::lock_guard<std::mutex> lock(pool_mutex);
    return pool_count;
}

qorl_socket_data_queue::qorl_socket_data_queue()
    : head(nullptr), write_buffer(nullptr), buffer_limit(-1), buffer_count(0), limit_reached(0) {}

qorl_socket_data_queue::~qorl_socket_data_queue() {
    private_socket_queue_buffer::release_buffers(&head);
}

int qorl_socket_data_queue::try_create_new_buffer() {
    if (buffer_limit > 0 && buffer_count >= buffer_limit) {
        limit_reached = 1;
        return 0;
    }
    private_socket_queue_buffer *buffer = private_socket_queue_buffer::get_buffer();
    if (buffer == nullptr) {
        report_message("Error in qorl_socket_data_queue::try_create_new_buffer(), memory "
                       "allocation fail in private_socket_queue_buffer::get_buffer().",
                       msg_resource, module_sockets);
        return 0;
    }
    limit_reached = 0;
    if (head == nullptr) {
        head = buffer;
    } else {
        private_socket_queue_buffer *last = head;
        while (last->next != nullptr)
            last = last->next;
        last->next = buffer;
    }
    write_buffer = buffer;
    ++buffer_count;
    return 1;
}

int qorl_socket_data_queue::add_byte(int byte) {
    if (write_buffer == nullptr && !try_create_new_buffer())
        return 0;
    write_buffer->data[write_buffer->fill++] = static_cast<unsigned char>(byte & 0xff);
    if (write_buffer->fill >= private_socket_queue_buffer::capacity)
        write_buffer = nullptr;
    return 1;
}

int qorl_socket_data_queue::add_bytes(const void *data, int count) {
    if (data == nullptr)
        return 0;
    const auto *bytes = static_cast<const unsigned char *>(data);
    int stored = 0;
    while (stored < count && add_byte(bytes[stored]))
        ++stored;
    return stored;
}

int qorl_socket_data_queue::add_text(const char *text) {
    if (text == nullptr)
        return 0;
    int stored = 0;
    while (text[stored] != '\0' && add_byte(static_cast<unsigned char>(text[stored])))
        ++stored;
    return stored;
}

// Every drained full buffer is retired at once, so only the head can hold the next byte.
int qorl_socket_data_queue::peek_front() const {
    if (head == nullptr || head->read_position >= head->fill)
        return -1;
    return head->data[head->read_position];
}

void qorl_socket_data_queue::consume_front(const char *operation) {
    private_socket_queue_buffer *buffer = head;
    if (++buffer->read_position < buffer->fill)
        return;
    if (buffer->fill >= private_socket_queue_buffer::capacity) {
        head = buffer->next;
        buffer->next = nullptr;
        if (write_buffer == buffer)
            write_buffer = nullptr;
        private_socket_queue_buffer::release_buffers(&buffer);
        --buffer_count;
        limit_reached = 0;
    } else if (buffer->next != nullptr) {
        // A partly filled buffer must be the last one: later bytes go in at its fill.
        report_queue("Warning", operation, "more buffers in list than expected.", msg_usage);
    }
}

// An empty head with buffers behind it breaks the list's invariants: report, take nothing.
static bool head_blocks_reading(const private_socket_queue_buffer *head, const char *operation) {
    if (head == nullptr)
        return true;
    if (head->read_position < head->fill)
        return false;
    if (head->next != nullptr)
        report_queue("Warning", operation, "top buffer empty in list of other buffers.", msg_usage);
    return true;
}

int qorl_socket_data_queue::read_block(void *dest, int capacity) {
    if (dest == nullptr || capacity <= 0 || head_blocks_reading(head, "read_block"))
        return 0;
    auto *out = static_cast<unsigned char *>(dest);
    int copied = 0;
    while (copied < capacity) {
        private_socket_queue_buffer *buffer = head;
        if (buffer == nullptr || buffer->read_position >= buffer->fill)
            break;
        // Copy the run this buffer holds, then let consume_front retire it if drained.
        int run = buffer->fill - buffer->read_position;
        if (run > capacity - copied)
            run = capacity - copied;
        memcpy(out + copied, buffer->data + buffer->read_position, size_t(run));
        copied += run;
        buffer->read_position += run - 1;
        consume_front("read_block");
    }
    return copied;
}

int qorl_socket_data_queue::get_line(fixed_text &text) {
    if (head_blocks_reading(head, "get_line"))
        return 0;
    text.clear();
    int count = 0;
    for (;;) {
        int byte = peek_front();
        if (byte < 0)
            return count;
        if (byte == '\n') {
            consume_front("get_line");
            return count;
        }
        if (!text.has_room()) {
            // The rest of the line stays queued for the next call.
            report_queue("Warning", "get_line", "dest buffer full.", msg_usage);
            return count;
        }
        text.append_char(static_cast<char>(byte));
        ++count;
        consume_front("get_line");
    }
}

int qorl_socket_data_queue::copy_text_without_remove(fixed_text &text) {
    if (head == nullptr)
        return 1;
    if (head_blocks_reading(head, "copy_text_without_remove"))
        return 0;
    text.clear();
    for (const private_socket_queue_buffer *buffer = head; buffer != nullptr;
         buffer = buffer->next) {
        for (int i = buffer->read_position; i < buffer->fill; ++i) {
            unsigned char byte = buffer->data[i];
            if (byte == 0) {
                report_queue("Warning", "copy_text_without_remove", "bailing on data zero.",
                             msg_usage);
                return 0;
            }
            if (!text.has_room()) {
                report_queue("Warning", "copy_text_without_remove", "dest buffer full.", msg_usage);
                return 0;
            }
            text.append_char(static_cast<char>(byte));
        }
    }
    return 1;
}

int qorl_socket_data_queue::is_empty() const {
    if (head == nullptr)
        return 1;
    return (head->next == nullptr && head->read_position == head->fill) ? 1 : 0;
}

int qorl_socket_data_queue::bytes_available() const {
    int total = 0;
    for (const private_socket_queue_buffer *buffer = head; buffer != nullptr; buffer = buffer->next)
        total += buffer->fill - buffer->read_position;
    return total;
}

int qorl_socket_data_queue::get_remaining_space() const {
    // A limit of 0 or less admits any number of buffers, so there is no bound to report.
    if (buffer_limit <= 0)
        return -1;
    int used = 0;
    for (const private_socket_queue_buffer *buffer = head; buffer != nullptr; buffer = buffer->next)
        used += buffer->fill;
    int remaining = buffer_limit * private_socket_queue_buffer::capacity - used;
    if (remaining < 0) {
        report_queue("Warning", "get_remaining_space", "negative available space?", msg_usage);
        return 0;
    }
    return remaining;
}

void qorl_socket_data_queue::discard_all() {
    private_socket_queue_buffer::release_buffers(&head);
    write_buffer = nullptr;
    buffer_count = 0;
    limit_reached = 0;
}
