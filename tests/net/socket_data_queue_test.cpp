// Socket data queue: buffer edges, the pool, line and text extraction, the buffer limit.
#include "net/socket_data_queue.h"

#include "tests/support/log_capture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int buffer_size = private_socket_queue_buffer::capacity;

std::string pattern(int count, int seed = 0) {
    std::string s;
    for (int i = 0; i < count; ++i)
        s.push_back(char('a' + (i * 7 + seed) % 26));
    return s;
}

std::string drain(qorl_socket_data_queue &q, int block) {
    std::string out;
    std::vector<char> buffer(static_cast<size_t>(block));
    for (int n; (n = q.read_block(buffer.data(), block)) > 0;)
        out.append(buffer.data(), size_t(n));
    return out;
}

std::unique_ptr<fixed_text> make_text(const char *content) {
    auto t = std::make_unique<fixed_text>();
    t->assign(content);
    return t;
}

TEST(SocketDataQueue, BufferEdges) {
    qorl_socket_data_queue q;
    EXPECT_EQ(q.is_empty(), 1);
    std::string data = pattern(buffer_size);
    EXPECT_EQ(q.add_bytes(data.data(), buffer_size), buffer_size);
    EXPECT_EQ(q.buffer_count, 1);
    EXPECT_EQ(q.write_buffer, nullptr) << "a full buffer takes no more bytes";
    EXPECT_EQ(q.bytes_available(), buffer_size);

    EXPECT_EQ(q.add_byte(0x17f), 1) << "the 4073rd byte opens a second buffer";
    EXPECT_EQ(q.buffer_count, 2);
    EXPECT_EQ(q.bytes_available(), buffer_size + 1);
    std::string out = drain(q, 8192);
    ASSERT_EQ(out.size(), size_t(buffer_size + 1));
    EXPECT_EQ(out.substr(0, size_t(buffer_size)), data);
    EXPECT_EQ(static_cast<unsigned char>(out.back()), 0x7f) << "only the low 8 bits are kept";
    EXPECT_EQ(q.is_empty(), 1);
}

TEST(SocketDataQueue, RetiredBufferIsHandedOutAgain) {
    qorl_socket_data_queue q;
    std::string data = pattern(5000);
    ASSERT_EQ(q.add_text(data.c_str()), 5000);
    private_socket_queue_buffer *first = q.head;
    private_socket_queue_buffer *second = first->next;
    ASSERT_NE(second, nullptr);

    std::vector<char> buffer(8192);
    ASSERT_EQ(q.read_block(buffer.data(), 8192), 5000);
    EXPECT_EQ(std::string(buffer.data(), 5000), data);
    EXPECT_EQ(q.head, second) << "the drained full buffer is retired";
    EXPECT_EQ(q.buffer_count, 1);
    EXPECT_EQ(q.is_empty(), 1);
    EXPECT_EQ(q.bytes_available(), 0);

    // The empty last buffer stays in place and takes the next byte at its fill.
    ASSERT_EQ(q.add_byte('z'), 1);
    EXPECT_EQ(q.head, second);
    EXPECT_EQ(second->fill, 5000 - buffer_size + 1);
    EXPECT_EQ(q.read_block(buffer.data(), 8192), 1);
    EXPECT_EQ(buffer[0], 'z');

    private_socket_queue_buffer *again = private_socket_queue_buffer::get_buffer();
    EXPECT_EQ(again, first) << "the pool hands out the buffer retired last";
    EXPECT_EQ(again->fill, 0);
    EXPECT_EQ(again->read_position, 0);
    EXPECT_EQ(again->next, nullptr);
    EXPECT_EQ(again->data[0], 0);
    private_socket_queue_buffer::release_buffers(&again);
    EXPECT_EQ(again, nullptr);
}

TEST(SocketDataQueue, BytesSurviveOddBlockSizes) {
    qorl_socket_data_queue q;
    std::string data = pattern(3 * buffer_size + 123, 5);
    std::string out;
    std::vector<char> buffer(5000);
    const int sizes[] = {1, 7, 4071, 4072, 4073, 5000, 13};
    size_t fed = 0;
    for (int round = 0; out.size() < data.size(); ++round) {
        if (fed < data.size()) {
            size_t n = std::min<size_t>(3000, data.size() - fed);
            ASSERT_EQ(q.add_bytes(data.data() + fed, int(n)), int(n));
            fed += n;
        }
        int got = q.read_block(buffer.data(), sizes[round % 7]);
        out.append(buffer.data(), size_t(got));
        ASSERT_LT(round, 1000);
    }
    EXPECT_EQ(out, data);
    EXPECT_EQ(q.is_empty(), 1);
    EXPECT_LE(q.buffer_count, 1);
}

TEST(SocketDataQueue, GetLine) {
    struct row {
        const char *name;
        std::string input;
        std::vector<std::string> lines; // successive results; the next call returns 0
    };
    const row rows[] = {
        {"no final line feed", std::string("pqr\r\nstu"), {"pqr\r", "stu"}},
        {"final line feed", std::string("ab\ncd\n"), {"ab", "cd"}},
        {"empty lines", std::string("\n\nx\n"), {"", "", "x"}},
        {"line across buffers", pattern(4070) + "bcd\nend", {pattern(4070) + "bcd", "end"}},
        {"5999 characters and a line feed", pattern(5999) + "\nz", {pattern(5999), "z"}},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        qorl_socket_data_queue q;
        ASSERT_EQ(q.add_bytes(r.input.data(), int(r.input.size())), int(r.input.size()));
        auto text = make_text("untouched");
        for (const std::string &line : r.lines) {
            EXPECT_EQ(q.get_line(*text), int(line.size()));
            EXPECT_EQ(std::string(text->text, size_t(text->length)), line);
        }
        EXPECT_EQ(q.is_empty(), 1);
        text->assign("kept");
        EXPECT_EQ(q.get_line(*text), 0);
        EXPECT_STREQ(text->text, "kept") << "an empty queue leaves the text alone";
    }
}

TEST(SocketDataQueue, GetLineStopsAtAFullText) {
    log_capture log;
    qorl_socket_data_queue q;
    std::string data = pattern(6000);
    ASSERT_EQ(q.add_bytes(data.data(), 6000), 6000);
    auto text = make_text("");
    EXPECT_EQ(q.get_line(*text), 5999);
    EXPECT_EQ(std::string(text->text), data.substr(0, 5999));
    EXPECT_EQ(q.bytes_available(), 1) << "the rest of the line stays queued";
    EXPECT_TRUE(log.contains("Warning in qorl_socket_data_queue::get_line(), dest buffer full.\n"));
    EXPECT_EQ(q.get_line(*text), 1);
    EXPECT_EQ(text->text[0], data[5999]);
}

TEST(SocketDataQueue, CopyTextWithoutRemove) {
    log_capture log;
    auto text = make_text("untouched");
    {
        qorl_socket_data_queue q;
        EXPECT_EQ(q.copy_text_without_remove(*text), 1);
        EXPECT_STREQ(text->text, "untouched") << "a queue without buffers copies nothing";
    }
    {
        qorl_socket_data_queue q;
        ASSERT_EQ(q.add_bytes("ab\0cd", 5), 5);
        EXPECT_EQ(q.copy_text_without_remove(*text), 0);
        EXPECT_STREQ(text->text, "ab");
        EXPECT_EQ(q.bytes_available(), 5) << "nothing is taken out";
        EXPECT_TRUE(log.contains("Warning in qorl_socket_data_queue::copy_text_without_remove(), "
                                 "bailing on data zero.\n"));
    }
    {
        // Starts at the head's read position and runs across buffers.
        qorl_socket_data_queue q;
        std::string data = pattern(buffer_size + 50);
        ASSERT_EQ(q.add_text(data.c_str()), int(data.size()));
        char skip[10];
        ASSERT_EQ(q.read_block(skip, 10), 10);
        EXPECT_EQ(q.copy_text_without_remove(*text), 1);
        EXPECT_EQ(std::string(text->text), data.substr(10));
        EXPECT_EQ(q.bytes_available(), int(data.size()) - 10);
    }
    {
        qorl_socket_data_queue q;
        std::string data = pattern(6000);
        ASSERT_EQ(q.add_text(data.c_str()), 6000);
        EXPECT_EQ(q.copy_text_without_remove(*text), 0);
        EXPECT_EQ(text->length, 5999);
        EXPECT_TRUE(log.contains("Warning in qorl_socket_data_queue::copy_text_without_remove(), "
                                 "dest buffer full.\n"));
    }
}

TEST(SocketDataQueue, BufferLimitAndRemainingSpace) {
    qorl_socket_data_queue q;
    EXPECT_EQ(q.get_remaining_space(), -1) << "no limit";
    q.buffer_limit = 0;
    ASSERT_EQ(q.add_text("abc"), 3);
    EXPECT_EQ(q.get_remaining_space(), -1) << "a limit of 0 admits any number of buffers";
    q.discard_all();

    q.buffer_limit = 1;
    EXPECT_EQ(q.get_remaining_space(), buffer_size);
    std::string data = pattern(5000);
    EXPECT_EQ(q.add_bytes(data.data(), 5000), buffer_size) << "the run is cut at the limit";
    EXPECT_EQ(q.limit_reached, 1);
    EXPECT_EQ(q.add_byte('x'), 0);
    EXPECT_EQ(q.buffer_count, 1);
    EXPECT_EQ(q.get_remaining_space(), 0);

    std::vector<char> buffer(buffer_size);
    ASSERT_EQ(q.read_block(buffer.data(), 100), 100);
    EXPECT_EQ(q.get_remaining_space(), 0) << "read bytes count until their buffer is free";
    ASSERT_EQ(q.read_block(buffer.data(), buffer_size), buffer_size - 100);
    EXPECT_EQ(q.get_remaining_space(), buffer_size);
    EXPECT_EQ(q.limit_reached, 0);
    EXPECT_EQ(q.buffer_count, 0);
    EXPECT_EQ(q.add_byte('x'), 1);
}

TEST(SocketDataQueue, DiscardAllReturnsBuffersToThePool) {
    qorl_socket_data_queue q;
    q.buffer_limit = 5;
    std::string data = pattern(3 * buffer_size);
    ASSERT_EQ(q.add_bytes(data.data(), int(data.size())), int(data.size()));
    int pooled = private_socket_queue_buffer::pool_size();
    q.discard_all();
    EXPECT_EQ(private_socket_queue_buffer::pool_size(), pooled + 3);
    EXPECT_EQ(q.head, nullptr);
    EXPECT_EQ(q.buffer_count, 0);
    EXPECT_EQ(q.is_empty(), 1);
    EXPECT_EQ(q.buffer_limit, 5);
    EXPECT_EQ(q.add_text("again"), 5);
}

// Queues on two threads share the pool: buffers must never be handed out twice.
TEST(SocketDataQueue, QueuesOnTwoThreadsShareThePool) {
    auto work = [](int seed, bool *ok) {
        std::string data = pattern(3 * buffer_size + 17, seed);
        for (int round = 0; round < 200; ++round) {
            qorl_socket_data_queue q;
            if (q.add_bytes(data.data(), int(data.size())) != int(data.size()) ||
                drain(q, 1000) != data) {
                *ok = false;
                return;
            }
        }
        *ok = true;
    };
    bool ok1 = false, ok2 = false;
    std::thread t1(work, 1, &ok1), t2(work, 2, &ok2);
    t1.join();
    t2.join();
    EXPECT_TRUE(ok1);
    EXPECT_TRUE(ok2);
}

} // namespace
