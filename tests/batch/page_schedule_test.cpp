#include "batch/page_schedule.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace orvalis {
namespace {

using State = PageSchedule::PageState;

// Plays a script of events into a schedule and writes down every action it gives, in order:
//   "p3"       page p3 finished whole          "p3 cut"   page p3 finished cut short
//   "ret"      the rendering returned          "go p3"    p3's conversion begins
//   "ok p3"    p3 converted                    "fail p3"  p3's conversion failed
//   "full p3"  p3 failed in a way that ends the file
//   "wait p3"  p3 waits for memory             "got p3"   p3 has its memory
//   "stop", "time", "late"                     a stop, the time up, the late start over
//   "2nd p3"   p3 of a second part finished    "release2", "drop2"  the second part released,
//                                                                   or dropped
// Actions: "convert p3", "remove p3", "hold", "release", "hold second", "let second go", "end",
// "done"; "go p3" that may not begin writes "skip p3".
class Player {
 public:
  explicit Player(PageSchedule::Limits limits) : schedule_(limits) {}

  std::string Play(const std::string& script) {
    std::istringstream events(script);
    std::string line;
    while (std::getline(events, line, ',')) {
      std::istringstream words(line);
      std::string verb, page, extra;
      words >> verb >> page >> extra;
      if (verb == "ret") {
        Note(schedule_.RenderingReturned());
      } else if (verb == "stop") {
        Note(schedule_.Stop());
      } else if (verb == "time") {
        Note(schedule_.TimeUp());
      } else if (verb == "late") {
        Note(schedule_.LateStartOver());
      } else if (verb == "go") {
        if (!schedule_.Begin(Index(page))) trace_ += "skip " + page + "; ";
      } else if (verb == "ok") {
        Note(schedule_.Converted(Index(page), {page + ".png", "", false}));
      } else if (verb == "fail" || verb == "full") {
        Note(schedule_.Converted(Index(page), {"", "bad " + page, verb == "full"}));
      } else if (verb == "wait" || verb == "got") {
        Note(schedule_.WaitsForMemory(Index(page), verb == "wait"));
      } else if (verb == "2nd") {
        Note(schedule_.PageFinished(page, extra != "cut", PageSchedule::Part::Second));
      } else if (verb == "release2") {
        Note(schedule_.ReleaseSecondPart());
      } else if (verb == "drop2") {
        Note(schedule_.DropSecondPart());
      } else {
        Note(schedule_.PageFinished(verb, page != "cut"));
      }
    }
    return trace_;
  }

  std::string States() const {
    static const char* const kNames[] = {"found", "handed",  "began", "converted", "failed",
                                         "cut",   "dropped", "left",  "discarded"};
    std::string text;
    for (const PageSchedule::Page& page : schedule_.Pages())
      text += page.path + "=" + kNames[static_cast<int>(page.state)] + " ";
    return text;
  }

  const PageSchedule& schedule() const { return schedule_; }

 private:
  size_t Index(const std::string& path) const {
    const auto& pages = schedule_.Pages();
    for (size_t i = 0; i < pages.size(); ++i) {
      if (pages[i].path == path) return i;
    }
    ADD_FAILURE() << "no page " << path;
    return 0;
  }
  // In the order the file carries them out.
  void Note(const PageSchedule::Actions& actions) {
    if (actions.hold == true) trace_ += "hold; ";
    if (actions.holdSecond == true) trace_ += "hold second; ";
    if (actions.endRendering) trace_ += "end; ";
    for (const std::string& page : actions.remove) trace_ += "remove " + page + "; ";
    if (actions.hold == false) trace_ += "release; ";
    if (actions.holdSecond == false) trace_ += "let second go; ";
    for (size_t index : actions.convert)
      trace_ += "convert " + schedule_.Pages()[index].path + "; ";
    if (actions.concluded) trace_ += "done; ";
  }

  PageSchedule schedule_;
  std::string trace_;
};

PageSchedule::Limits Limits(size_t inFlight, size_t holdAt, bool overlap = true,
                            size_t lateAllowance = 0, size_t pileAt = 0) {
  return {inFlight, holdAt, overlap, lateAllowance, pileAt};
}

TEST(PageSchedule, EventOrders) {
  const struct {
    const char* name;
    PageSchedule::Limits limits;
    const char* script;
    const char* trace;
    const char* states;
  } cases[] = {
      {"pages go out in page order, as threads come free", Limits(2, 0),
       "p1,p2,p3,go p1,ok p1,go p2,go p3,ok p3,ok p2,ret",
       "convert p1; convert p2; remove p1; convert p3; remove p3; remove p2; done; ",
       "p1=converted p2=converted p3=converted "},
      {"a page finished twice is one page", Limits(1, 0), "p1,p1,ret,go p1,ok p1",
       "convert p1; remove p1; done; ", "p1=converted "},
      {"once the rendering returned, the earliest page goes first", Limits(1, 0, false),
       "p10,p2,ret,go p2,ok p2,go p10,ok p10",
       "convert p2; remove p2; convert p10; remove p10; done; ", "p10=converted p2=converted "},
      {"a cut page is never converted, and goes at once", Limits(2, 0), "p1,p2 cut,ret,go p1,ok p1",
       "convert p1; remove p2; remove p1; done; ", "p1=converted p2=cut "},
      {"without overlap nothing goes out before the rendering returns", Limits(1, 0, false),
       "p1,p2,ret,go p1,ok p1,go p2,ok p2", "convert p1; remove p1; convert p2; remove p2; done; ",
       "p1=converted p2=converted "},
      {"a file without pages is done when its rendering returns", Limits(2, 3), "ret", "done; ",
       ""},
      {"held while the folder is full and a page has its memory; let go as one is done",
       Limits(1, 3), "p1,p2,go p1,ok p1,go p2,ret,ok p2",
       "convert p1; hold; remove p1; release; convert p2; remove p2; done; ",
       "p1=converted p2=converted "},
      {"never held while a page of the file waits for memory", Limits(1, 3),
       "p1,wait p1,p2,got p1,go p1,ok p1,ret,go p2,ok p2",
       "convert p1; hold; remove p1; release; convert p2; remove p2; done; ",
       "p1=converted p2=converted "},
      {"a stop drops what has not begun; what runs ends; the file is done after", Limits(2, 0),
       "p1,p2,p3,go p1,stop,go p2,p4,ret,ok p1",
       "convert p1; convert p2; end; remove p2; remove p3; skip p2; remove p4; remove p1; done; ",
       "p1=converted p2=dropped p3=left p4=left "},
      {"a page that ends the file ends its rendering and drops the rest", Limits(2, 0),
       "p1,p2,p3,go p1,full p1,ret",
       "convert p1; convert p2; end; remove p1; remove p2; remove p3; done; ",
       "p1=failed p2=dropped p3=left "},
      {"time up: a few pages may still go out, none begins after the late start",
       Limits(1, 0, true, 2), "p1,go p1,time,p2,ok p1,p3,go p2,ok p2,go p3,late,ret,ok p3",
       "convert p1; end; remove p1; convert p2; remove p2; convert p3; end; remove p3; done; ",
       "p1=converted p2=converted p3=converted "},
      {"time up with pages waiting: those not begun by the late start are dropped",
       Limits(2, 0, true, 4), "p1,p2,p3,go p1,time,ret,late,go p2,ok p1",
       "convert p1; convert p2; end; remove p2; remove p3; skip p2; remove p1; done; ",
       "p1=converted p2=dropped p3=left "},
      {"a merged document takes no page after its time", Limits(1, 0, true, 0),
       "p1,p2,go p1,ok p1,time,ret", "convert p1; remove p1; convert p2; end; remove p2; done; ",
       "p1=converted p2=dropped "},
      {"a failed page is reported, and the others go on", Limits(1, 0),
       "p1,p2,ret,go p1,fail p1,go p2,ok p2",
       "convert p1; remove p1; convert p2; remove p2; done; ", "p1=failed p2=converted "},
      {"nothing is taken once the file is done", Limits(1, 0), "ret,p1", "done; ", ""},
      {"a second part waits until it is released, then goes in page order", Limits(1, 0),
       "p1,2nd p4,p2,2nd p5,go p1,ok p1,go p2,ok p2,release2,go p4,ok p4,go p5,ret,ok p5",
       "convert p1; remove p1; convert p2; remove p2; convert p4; remove p4; convert p5; "
       "remove p5; done; ",
       "p1=converted p4=converted p2=converted p5=converted "},
      {"a dropped second part is removed unconverted, and so is what it finishes after",
       Limits(1, 0), "p1,2nd p4,go p1,ok p1,drop2,2nd p5,ret",
       "convert p1; remove p1; remove p4; remove p5; done; ",
       "p1=converted p4=discarded p5=discarded "},
      {"the second renderer is held while its part piles up, and let go once released",
       Limits(1, 0, true, 0, 2),
       "2nd p4,2nd p5,p1,go p1,ok p1,release2,go p4,ok p4,go p5,ok p5,ret",
       "hold second; convert p1; remove p1; let second go; convert p4; remove p4; convert p5; "
       "remove p5; done; ",
       "p4=converted p5=converted p1=converted "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Player player(c.limits);
    EXPECT_EQ(player.Play(c.script), c.trace);
    EXPECT_EQ(player.States(), c.states);
    EXPECT_TRUE(player.schedule().Concluded());
  }
}

TEST(PageSchedule, OutputsAndEndReason) {
  Player player(Limits(3, 0));
  player.Play("p10,p9,p8,ret,go p10,go p9,go p8,ok p10,full p9,ok p8");
  EXPECT_EQ(player.schedule().Outputs(), (std::vector<std::string>{"p8.png", "p10.png"}));
  EXPECT_EQ(player.schedule().EndReason(), "bad p9");
  EXPECT_EQ(player.schedule().Count(State::Converted), 2u);
}

// The pages a row shows: done counts converted and failed pages; the count is the one known in
// advance until the rendering returns, then the pages it finished whole (a cut page is none, a
// dropped second part's pages are none of the document).
TEST(PageSchedule, PagesDoneAndTheirCount) {
  const struct {
    const char* name;
    const char* script;
    size_t counted;
    size_t done;
    size_t total;
  } cases[] = {
      {"rendering, count not known", "p1,p2,go p1,ok p1", 0, 1, 0},
      {"rendering, counted in advance", "p1,p2,go p1,ok p1", 10, 1, 10},
      {"returned: the pages finished", "p1,p2,p3 cut,ret,go p1,ok p1,go p2,fail p2", 10, 2, 2},
      {"a count short of the pages done is none", "p1,p2,go p1,ok p1,go p2,ok p2", 1, 2, 0},
      {"a dropped second part", "p1,2nd q5,2nd q6,drop2,go p1,ok p1,ret", 6, 1, 1},
      {"stopped: the pages left count", "p1,p2,go p1,ok p1,stop,p3,ret", 0, 1, 3},
  };
  for (const auto& c : cases) {
    Player player(Limits(1, 0));
    player.Play(c.script);
    const PageSchedule::Progress progress = player.schedule().PagesDone(c.counted);
    EXPECT_EQ(progress.done, c.done) << c.name;
    EXPECT_EQ(progress.total, c.total) << c.name;
  }
}

TEST(PageSchedule, PageOrderPutsLongerNumbersLater) {
  EXPECT_TRUE(ComesBeforeInPageOrder("/t/r_999.bmp", "/t/r_1000.bmp"));
  // Whatever folder a part of the document was drawn into.
  EXPECT_TRUE(ComesBeforeInPageOrder("/t/again/r_005.bmp", "/t/r_006.bmp"));
  EXPECT_TRUE(ComesBeforeInPageOrder("/t/r_999.bmp", "/t/second/r_1000.bmp"));
  EXPECT_TRUE(ComesBeforeInPageOrder("/t/r_001.bmp", "/t/r_002.bmp"));
  EXPECT_FALSE(ComesBeforeInPageOrder("/t/r_002.bmp", "/t/r_002.bmp"));
}

}  // namespace
}  // namespace orvalis
