// Many threads opening directories and asking one opened directory at once
// get what one thread gets; run under ThreadSanitizer too. Usage: threads_test VARNOLT_DAT
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "varnolt.h"

int main(int argc, char** argv) {
    varnolt* directory = nullptr;
    if (argc != 2 || varnolt_open(argv[1], &directory) != VARNOLT_OK) {
        std::fprintf(stderr, "usage: threads_test VARNOLT_DAT (a directory file that opens)\n");
        return 2;
    }
    // Mobile numbers of every prefix, fixed lines and written forms.
    std::vector<std::string> numbers;
    for (unsigned i = 0; i < 100000; ++i) {
        numbers.push_back(std::to_string(13000000000ull + i * 69997ull));
        numbers.push_back("0" + std::to_string(100 + i % 900) + "-" + std::to_string(2000000 + i));
        numbers.push_back("Tel: +86 " + std::to_string(130 + i % 70) + " 1234 " + std::to_string(1000 + i % 9000));
    }
    std::vector<const char*> texts;
    for (const std::string& number : numbers) texts.push_back(number.c_str());
    std::vector<varnolt_answer> expected(texts.size());
    varnolt_lookup_many(directory, texts.data(), texts.size(), expected.data(), sizeof expected[0]);

    const unsigned threads = 4;
    std::vector<size_t> wrong(threads);
    std::vector<std::thread> running;
    for (unsigned t = 0; t < threads; ++t) {
        running.emplace_back([&, t] {
            varnolt* own = nullptr;
            wrong[t] += varnolt_open(argv[1], &own) != VARNOLT_OK;
            varnolt_close(own);
            varnolt_answer answer;
            for (size_t i = t; i < texts.size() * 2; i += 1 + t) {
                const size_t at = i % texts.size();
                varnolt_lookup(directory, texts[at], &answer, sizeof answer);
                const varnolt_answer& one = expected[at];
                wrong[t] += answer.status != one.status || answer.key != one.key || answer.area != one.area ||
                            answer.type != one.type || answer.area_code != one.area_code;
            }
        });
    }
    for (std::thread& thread : running) thread.join();
    varnolt_close(directory);
    size_t found = 0, failures = 0;
    for (const varnolt_answer& answer : expected) found += answer.status == VARNOLT_FOUND;
    for (size_t count : wrong) failures += count;
    std::printf("%zu numbers, %zu found, %u threads at once: %zu answers differ from one thread's\n", texts.size(),
                found, threads, failures);
    return failures == 0 && found > texts.size() / 2 ? 0 : 1;
}
