package com.vesk.orvanex.tests.kel;

import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.regex.PatternSyntaxException;

/**
 * Runs a table of regular-expression cases through java.util.regex and prints
 * what matched, one line per case, in the form that the native pattern test
 * prints for the same table, so the two can be compared line by line.
 *
 * Table lines: flags TAB pattern TAB subject [TAB note]. Flags are letters
 * (i case-insensitive, m multi-line) or "-". In the subject, \n \r \t and \\
 * stand for a line feed, carriage return, tab and backslash. Lines that are
 * empty or start with # are skipped. Offsets are printed in UTF-8 bytes.
 *
 * Output per case: "<line>: error" when the pattern does not compile, else
 * "<line>: matches=<bool> find=<match>;<match>;..." with at most 20 matches,
 * each "start:end" followed by "{g1,g2,...}" (a group that took no part is "x").
 */
public final class RegexOracle {
  private RegexOracle() {}

  static String unescape(String s) {
    StringBuilder b = new StringBuilder();
    for (int i = 0; i < s.length(); i++) {
      char c = s.charAt(i);
      if (c == '\\' && i + 1 < s.length()) {
        char n = s.charAt(++i);
        switch (n) {
          case 'n': b.append('\n'); break;
          case 'r': b.append('\r'); break;
          case 't': b.append('\t'); break;
          default: b.append(n); break;
        }
      } else {
        b.append(c);
      }
    }
    return b.toString();
  }

  // byteAt[i] is the UTF-8 offset of UTF-16 index i.
  static int[] byteOffsets(String s) {
    int[] at = new int[s.length() + 1];
    int bytes = 0;
    for (int i = 0; i < s.length(); i++) {
      at[i] = bytes;
      char c = s.charAt(i);
      if (c < 0x80) bytes += 1;
      else if (c < 0x800) bytes += 2;
      else if (Character.isHighSurrogate(c)) bytes += 4;
      else if (Character.isLowSurrogate(c)) bytes += 0;
      else bytes += 3;
    }
    at[s.length()] = bytes;
    return at;
  }

  public static void main(String[] args) throws IOException {
    PrintStream out = new PrintStream(System.out, true, StandardCharsets.UTF_8);
    List<String> lines = Files.readAllLines(Paths.get(args[0]), StandardCharsets.UTF_8);
    for (int n = 0; n < lines.size(); n++) {
      String line = lines.get(n);
      if (line.isEmpty() || line.startsWith("#")) continue;
      String[] f = line.split("\t", -1);
      if (f.length < 3) continue;
      int flags = 0;
      if (f[0].contains("i")) flags |= Pattern.CASE_INSENSITIVE;
      if (f[0].contains("m")) flags |= Pattern.MULTILINE;
      String subject = unescape(f[2]);
      Pattern p;
      try {
        p = Pattern.compile(f[1], flags);
      } catch (PatternSyntaxException e) {
        out.println((n + 1) + ": error");
        continue;
      }
      int[] at = byteOffsets(subject);
      StringBuilder b = new StringBuilder();
      b.append(n + 1).append(": matches=").append(p.matcher(subject).matches()).append(" find=");
      Matcher m = p.matcher(subject);
      for (int k = 0; k < 20 && m.find(); k++) {
        if (k > 0) b.append(';');
        b.append(at[m.start()]).append(':').append(at[m.end()]).append('{');
        for (int g = 1; g <= m.groupCount(); g++) {
          if (g > 1) b.append(',');
          if (m.start(g) < 0) b.append('x');
          else b.append(at[m.start(g)]).append(':').append(at[m.end(g)]);
        }
        b.append('}');
      }
      out.println(b);
    }
  }
}
