// Socket data queue: a FIFO byte queue grown in pooled fixed-size buffers.
#pragma once

#include "client/fixed_text.h"

// One block of queued bytes. Blocks are taken from and returned to one process-wide
// free list and never go back to the heap.
struct private_socket_queue_buffer {
    static constexpr int capacity = 4072;

    int fill;                          // bytes written into data, 0 ... capacity
    int read_position;                 // bytes already taken out, 0 ... fill
    private_socket_queue_buffer *next; // next buffer of the queue, or next free buffer
    unsigned char data[capacity];

    // A cleared buffer (fill 0, read position 0, next null): the first free one of the
    // pool, or a new one when the pool is empty. Null only when allocation fails.
    static private_socket_queue_buffer *get_buffer();
    // Moves every buffer of the chain starting at *chain to the front of the pool, one by
    // one, and sets *chain to null. A null chain pointer or an empty chain does nothing.
    static void release_buffers(private_socket_queue_buffer **chain);
    // Number of buffers waiting in the pool (for diagnostics and tests).
    static int pool_size();
};

// First-in, first-out byte queue for data going to or coming from a socket.
// Appending never moves queued bytes; drained buffers return to the pool at once.
// A queue belongs to one thread at a time; the pool behind all queues is locked.
class qorl_socket_data_queue {
  public:
    qorl_socket_data_queue();
    ~qorl_socket_data_queue();
    qorl_socket_data_queue(const qorl_socket_data_queue &) = delete;
    qorl_socket_data_queue &operator=(const qorl_socket_data_queue &) = delete;

    // Adds an empty buffer at the tail. Returns 1 if added; 0 when the buffer limit is
    // reached (limit_reached is set, no message) or no memory could be had (reported).
    int try_create_new_buffer();
    // Stores the low 8 bits of byte. Returns 1 if stored, 0 if no buffer could be had.
    int add_byte(int byte);
    // Stores count bytes from data in order, stopping at the first refusal.
    // Returns the number stored (the bytes before a refusal stay queued).
    int add_bytes(const void *data, int count);
    // Stores a NUL-terminated text without its NUL; returns the characters stored.
    int add_text(const char *text);
    // Moves up to capacity bytes out of the queue into dest; returns the count moved.
    int read_block(void *dest, int capacity);
    // Takes one line out of the queue into text (cleared first). A line feed ends the line
    // and is consumed but not stored; carriage returns are stored. Returns the characters
    // stored. When the queue runs out first, the partial line is taken out and returned.
    // When the text is full (5999 characters) the rest of the line stays queued.
    // An empty queue returns 0 and leaves text untouched.
    int get_line(fixed_text &text);
    // Copies every unread byte into text (cleared first) without taking anything out.
    // Returns 1 when all were copied (also for a queue without buffers, text untouched);
    // 0 at a zero byte or when the text is full, text holding what came before.
    int copy_text_without_remove(fixed_text &text);
    // 1 when no unread byte remains, else 0.
    int is_empty() const;
    // Number of unread bytes.
    int bytes_available() const;
    // Bytes that may still be added under the buffer limit; -1 when there is no limit.
    // Bytes already read out of the head buffer still count until it is retired.
    int get_remaining_space() const;
    // Returns every buffer to the pool; the limit is kept.
    void discard_all();

    private_socket_queue_buffer *head;         // buffer being read, null when none
    private_socket_queue_buffer *write_buffer; // last buffer while it has room, else null
    int buffer_limit;                          // most buffers held; 0 or less: no limit
    int buffer_count;                          // buffers in the list
    int limit_reached;                         // a buffer was refused because of the limit

  private:
    // Reads the next unread byte, retiring a drained full head buffer. Returns the byte,
    // or -1 when the queue holds no more; caller names the operation in the messages.
    int peek_front() const;
    void consume_front(const char *operation);
};
