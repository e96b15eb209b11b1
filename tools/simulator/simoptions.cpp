#include "simulator/simoptions.h"

#include <algorithm>

namespace tarvik::sim {

std::string UsageText() {
  return R"(Usage: tarvik-sim [options]
Plays one device on a pseudo-terminal. Prints "PORT <slave path>" as the first
line of standard output and serves until SIGINT or SIGTERM, a hang-up fault
or --exit-after-last.

Device:
  --version-reply TEXT   first line of the "+v" answer (default "VER 14.002.020";
                         a family line such as "QTT1.001.002" works too)
  --banner TEXT          "+v" answer in bootloader mode (default "BootLdr v1.0")
  --unit-name CODE       model code of the "+un" answer (default "QTT1")
  --bootloader           start in bootloader mode
  --staged               type-10 device: four-digit write echo, "EE" commit,
                         writes taken without "BL"
  --no-require-bootloader  take "BE" and writes outside bootloader mode
  --erase-ms MS          time "BE" takes (default 2000)
  --write-latency MS     time programming a written group takes before its
                         echo is sent (default 0)
  --echo-digits N        digits of the block number in a write's echo, 1 to 4
                         (default 3, staged 4)
  --unpaced              take and answer commands at once instead of at 19200 bit/s
  --seed N               seed of the garbage answers (default 1)
  --version-after TEXT   "+v" answer after a complete reflash (default: the
                         header of the embedded image whose data the flash
                         then holds; unchanged for any other data)
  --no-catalogue         do not know the embedded images by their data

Publishing and results:
  --link PATH            symbolic link to the slave, removed at exit
  --report FILE          JSON report written at exit
  --image-out FILE       received image at exit, one "XXXX:hexdata" line a group
  --flash-out FILE       the flash at exit, one "XXXX:" + 32 hex digits line a
                         16-byte block from 0000 to the highest written, FF
                         where nothing was written
  --expected-flash IMAGE print the flash lines that writing the image file
                         (header line, then records) leaves, and exit; compare
                         them with the --flash-out file
  --exit-after-last      exit once block 0000 was written in bootloader mode
                         (staged: once a matching "EE" was answered)

Faults (repeatable):
  --fault KIND[@CMD][#N][=MS][!]
      KIND  silence | garbage | no-ok | wrong-echo | lower-echo | slow |
            no-carrier | echo-no-carrier | split | hangup | stale-version
      @CMD  only this command: v, un, BL, BE, W (writes), W0008 (the writes
            of one block), EE; default all (wrong-echo and lower-echo: the
            writes)
      #N    only the N-th matching command; default every one
      =MS   delay of slow; split: the pause between the answer's two pieces,
            =MS/AT cuts it after AT bytes (negative: from its end; default
            the middle)
      !     the command is lost: the device does not carry it out, and
            answers as the other faults on it say
      echo-no-carrier puts a "NO CARRIER" line before the answer's "OK".
      stale-version answers "+v" as before any reflash (default @v).
      hangup closes the terminal after answering; with silence on the same
      command it closes without answering.
  Examples: --fault silence@un  --fault wrong-echo#3  --fault slow=300@v
            --fault no-carrier@W#2  --fault hangup#5  --fault silence!@W0008#2
            --fault split=400/-3@W

  --help                 this text
)";
}

bool ParseCommandLine(const std::vector<std::string>& args, ProgramOptions& options, std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& flag = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        error = flag + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    std::string text;
    SimOptions& sim = options.sim;
    if (flag == "--help" || flag == "-h") {
      options.help = true;
    } else if (flag == "--version-reply") {
      if (!value(sim.version)) return false;
    } else if (flag == "--banner") {
      if (!value(sim.banner)) return false;
    } else if (flag == "--version-after") {
      if (!value(sim.versionAfter)) return false;
    } else if (flag == "--no-catalogue") {
      options.noCatalogue = true;
    } else if (flag == "--unit-name") {
      if (!value(sim.unitName)) return false;
    } else if (flag == "--bootloader") {
      sim.startInBootloader = true;
    } else if (flag == "--staged") {
      sim.staged = true;
    } else if (flag == "--no-require-bootloader") {
      sim.requireBootloader = false;
    } else if (flag == "--erase-ms" || flag == "--seed" || flag == "--write-latency" ||
               flag == "--echo-digits") {
      std::uint32_t number = 0;
      if (!value(text)) return false;
      if (!ParseDecimal(text, number) || (flag == "--echo-digits" && (number < 1 || number > 4))) {
        error = flag + " wants a number" + (flag == "--echo-digits" ? " from 1 to 4" : "") + ", not \"" +
                text + "\"";
        return false;
      }
      if (flag == "--seed") {
        sim.seed = number;
      } else if (flag == "--erase-ms") {
        sim.eraseMs = number;
      } else if (flag == "--write-latency") {
        sim.writeLatencyMs = number;
      } else {
        sim.echoDigits = number;
      }
    } else if (flag == "--unpaced") {
      sim.unpaced = true;
    } else if (flag == "--link") {
      if (!value(sim.linkPath)) return false;
    } else if (flag == "--report") {
      if (!value(options.reportPath)) return false;
    } else if (flag == "--image-out") {
      if (!value(options.imageOutPath)) return false;
    } else if (flag == "--flash-out") {
      if (!value(options.flashOutPath)) return false;
    } else if (flag == "--expected-flash") {
      if (!value(options.expectedFlashOf)) return false;
    } else if (flag == "--exit-after-last") {
      sim.exitAfterLast = true;
    } else if (flag == "--fault") {
      Fault fault;
      if (!value(text) || !ParseFault(text, fault, error)) return false;
      sim.faults.push_back(fault);
    } else {
      error = "unknown option " + flag;
      return false;
    }
  }
  return true;
}

}  // namespace tarvik::sim
