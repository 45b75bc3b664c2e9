// The reference segmenter's worked examples, run against the shared data files. Rows 46-52 swap
// the user dictionary for one-line files written here.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jieba_test_support.h"
#include "tokenizer/jieba/jieba.h"

namespace orvel::tokenizer::jieba {
namespace {

using namespace std::string_literals;
using testing::PathsIn;
using testing::SharedDir;
using testing::StandardDataFiles;
using testing::TempDir;
using Words = std::vector<std::string>;

struct Example {
  int number;
  const char* user_dict;  // '|'-joined names of the files below; nullptr for user.dict.utf8
  std::string input;
  Words mixed;
  Words search;  // empty: same as mixed
};

const std::map<std::string, std::string> kUserFiles = {
    {"u_hang.txt", "杭\n"},
    {"u_I.txt", "I\n"},
    {"u_3col.txt", "去杭研 100 nz\n"},
    {"u_4col.txt", "去杭研 100 nz x\n"},
    {"u_de0.txt", "的 0 u\n"},
};

const Example kExamples[] = {
    {1, nullptr, "", {}, {}},
    {2, nullptr, "他来到了网易杭研大厦", {"他", "来到", "了", "网易", "杭研", "大厦"}, {}},
    {3,
     nullptr,
     "我来自北京邮电大学。。。学号123456，用AK47",
     {"我", "来自", "北京邮电大学", "。", "。", "。", "学号", "123456", "，", "用", "AK47"},
     {"我", "来自", "北京", "邮电", "电大", "大学", "北京邮电大学", "。", "。", "。", "学号",
      "123456", "，", "用", "AK47"}},
    {4,
     nullptr,
     "小明硕士毕业于中国科学院计算所，后在日本京都大学深造",
     {"小明", "硕士", "毕业", "于", "中国科学院", "计算所", "，", "后", "在", "日本京都大学",
      "深造"},
     {"小明", "硕士", "毕业", "于", "中国", "科学", "学院", "科学院", "中国科学院", "计算",
      "计算所", "，", "后", "在", "日本", "京都", "大学", "日本京都大学", "深造"}},
    {5,
     nullptr,
     "中华人民共和国",
     {"中华人民共和国"},
     {"中华", "华人", "人民", "共和", "共和国", "中华人民共和国"}},
    {6,
     nullptr,
     "南京市长江大桥",
     {"南京市", "长江大桥"},
     {"南京", "京市", "南京市", "长江", "大桥", "长江大桥"}},
    {7,
     nullptr,
     "工信处女干事每月经过下属科室都要亲口交代24口交换机等技术性器件的安装工作",
     {"工信处", "女干事", "每月", "经过", "下属", "科室", "都", "要", "亲口", "交代", "24", "口",
      "交换机", "等", "技术性", "器件", "的", "安装", "工作"},
     {"工信处", "干事", "女干事", "每月", "经过", "下属", "科室", "都",
      "要",     "亲口", "交代",   "24",   "口",   "交换", "换机", "交换机",
      "等",     "技术", "技术性", "器件", "的",   "安装", "工作"}},
    {8,
     nullptr,
     "云计算和区块链",
     {"云计算", "和", "区块链"},
     {"计算", "云计算", "和", "区块", "区块链"}},
    {9, nullptr, "一一一", {"一", "一一"}, {}},
    {10, nullptr, "丁税政", {"丁", "税政"}, {}},
    {11, nullptr, "B超 T恤", {"B超", " ", "T恤"}, {}},
    {12, nullptr, "学ABC语言", {"学", "AB", "C语言"}, {"学", "AB", "语言", "C语言"}},
    {13, nullptr, "AB超", {"A", "B超"}, {}},
    {14, nullptr, "我学c++和AT&T的C#", {"我学", "c++", "和", "AT&T", "的", "C#"}, {}},
    {15, nullptr, "c++11", {"c++", "11"}, {}},
    {16, nullptr, "5G网络速度快", {"5G", "网络", "速度", "快"}, {}},
    {17, nullptr, "3.5KG重量", {"3.5", "KG", "重量"}, {}},
    {18, nullptr, "v1.2版本", {"v1.2", "版本"}, {}},
    {19,
     nullptr,
     "a.5和1.2.3以及3.和.5",
     {"a.5", "和", "1.2", ".", "3", "以及", "3", ".", "和", ".", "5"},
     {}},
    {20, nullptr, "12ab34.5cd", {"12ab34.5", "cd"}, {}},
    {21, nullptr, "abc.def_x1", {"abc", ".", "def", "_", "x1"}, {}},
    {22,
     nullptr,
     "Ｉｎｔｅｌ芯片１２３",
     {"Ｉ", "ｎ", "ｔ", "ｅ", "ｌ", "芯片", "１", "２", "３"},
     {}},
    {23,
     nullptr,
     "天气很好，🙋 我们去郊游。",
     {"天气", "很", "好", "，", "🙋", " ", "我们", "去", "郊游", "。"},
     {}},
    {24, nullptr, "杭研🙋杭研", {"杭研", "🙋", "杭", "研"}, {}},
    {25, nullptr, "他去", {"他", "去"}, {}},
    {26, nullptr, "他去🙋", {"他去", "🙋"}, {}},
    {27, nullptr, "我和你🙋", {"我和你", "🙋"}, {}},
    {28, nullptr, "   ", {" ", " ", " "}, {}},
    {29, nullptr, "a\tb\nc\rd", {"a", "\t", "b", "\n", "c", "\r", "d"}, {}},
    {30, nullptr, "你好！世界", {"你好", "！", "世界"}, {}},
    {31, nullptr, "林俊杰唱歌", {"林俊杰", "唱歌"}, {"俊杰", "林俊杰", "唱歌"}},
    {32, nullptr, "江南style", {"江南style"}, {"江南", "江南style"}},
    {33, nullptr, "他去杭研IBM", {"他", "去", "杭研", "IBM"}, {}},
    {34, nullptr, "他去杭研究", {"他", "去", "杭", "研究"}, {}},
    {35, nullptr, "他说的确实在理", {"他", "说", "的", "确实", "在理"}, {}},
    {36,
     nullptr,
     "我爱北京天安门的",
     {"我", "爱", "北京", "天安门", "的"},
     {"我", "爱", "北京", "天安", "天安门", "的"}},
    {37, nullptr, "123\x80", {}, {}},
    {38, nullptr, "你\xE5\xA5", {}, {}},
    {39,
     nullptr,
     "\xF8"
     "abc",
     {},
     {}},
    {40,
     nullptr,
     "\xE4"
     "AB好",
     {"\xE4"
      "AB",
      "好"},
     {}},
    {41,
     nullptr,
     "\xC0\xA0"
     "abc",
     {"\xC0\xA0", "abc"},
     {}},
    {42,
     nullptr,
     "\xC1\x81\xC1\x82"
     "c",
     {"\xC1\x81\xC1\x82"
      "c"},
     {}},
    {43, nullptr, "a\0b"s, {"a", "\0"s, "b"}, {}},
    {44, nullptr, "\x80\x80", {"\x80\x80"}, {}},
    {45, nullptr, "你\xF7\xBF\xBF\xBF好", {"你", "\xF7\xBF\xBF\xBF", "好"}, {}},
    {46, "u_hang.txt", "他去杭研IBM", {"他", "去", "杭", "研", "IBM"}, {}},
    {47, "u_I.txt", "他去杭研IBM", {"他", "去", "杭研", "I", "BM"}, {}},
    {48, "u_hang.txt|u_I.txt", "他去杭研IBM", {"他", "去", "杭", "研", "I", "BM"}, {}},
    {49, "u_3col.txt", "他去杭研究", {"他", "去杭研", "究"}, {}},
    {50, "u_4col.txt", "他去杭研究", {"他", "去", "杭", "研究"}, {}},
    {51, "u_de0.txt", "他说的确实在理", {"他", "说", "的确", "实在", "理"}, {}},
    {52,
     "u_de0.txt",
     "我爱北京天安门的",
     {"我", "爱北京", "天安门", "的"},
     {"我", "北京", "爱北京", "天安", "天安门", "的"}},
};

class JiebaExamplesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    shared_ = SharedDir();
    if (!shared_) GTEST_SKIP() << "shared segmentation data not found";
    for (const auto& [name, content] : kUserFiles) dir_.Write(name, content);
  }

  // One engine per user dictionary argument, built on first use.
  const Jieba& Engine(const std::string& user_dict_names) {
    auto& engine = engines_[user_dict_names];
    if (!engine) {
      const auto files = StandardDataFiles(*shared_);
      const std::string user_paths =
          user_dict_names.empty() ? files.user : PathsIn(dir_.path(), user_dict_names);
      engine =
          std::make_unique<Jieba>(files.dict, files.hmm, user_paths, files.idf, files.stop_words);
    }
    return *engine;
  }

  std::optional<std::filesystem::path> shared_;
  TempDir dir_;
  std::map<std::string, std::unique_ptr<Jieba>> engines_;
};

TEST_F(JiebaExamplesTest, WorkedExamples) {
  Words words;
  ::testing::internal::CaptureStderr();
  for (const Example& example : kExamples) {
    const Jieba& engine = Engine(example.user_dict != nullptr ? example.user_dict : "");
    engine.Cut(example.input, words);
    EXPECT_EQ(words, example.mixed) << "example " << example.number << " mixed";
    engine.CutForSearch(example.input, words);
    EXPECT_EQ(words, example.search.empty() ? example.mixed : example.search)
        << "example " << example.number << " search";
  }
  // Examples 37-39 fail to decode: one line per cut call.
  const std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 6) << log;
}

// Words longer than 512 runes are never matched.
TEST_F(JiebaExamplesTest, UserWordsMatchUpTo512Runes) {
  std::string word512;
  for (int i = 0; i < 512; ++i) word512 += "龘";
  dir_.Write("u_512.txt", word512 + "\n");
  dir_.Write("u_513.txt", word512 + "龘\n");
  Words words;
  Engine("u_512.txt").Cut(word512, words);
  EXPECT_EQ(words, Words{word512});
  Engine("u_513.txt").Cut(word512 + "龘", words);
  EXPECT_EQ(words, Words(513, "龘"));
}

}  // namespace
}  // namespace orvel::tokenizer::jieba
