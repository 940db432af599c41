#!/usr/bin/python3
"""Errors raised inside planned function bodies report the same text, Where,
Near and Stack lines with plans on as with plans off; exits through planned
code land where they did.

Every function is called twice before the case (its plan is built on the
second call), then the case runs. Each case also names a text its report
must hold, so that it tests what it says, and checks that a plan was built.

Usage: errors.py ZUV
"""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import plans_run  # noqa: E402

# Every way of writing a function's body in place, for writes_to_planned_body.
WRITERS = [
    "b: body-of :f b/3: 10", "poke body-of :f 4 20", "swap at body-of :f 4 at body-of :f 5",
    "reverse at body-of :f 4", "sort at body-of :f 4", "remove-each x at body-of :f 4 [x = 10]",
    "replace body-of :f 2 7", "alter body-of :f 99", "alter body-of :f 10",
    "change/part body-of :f [5] 3", "trim body-of :f", "take/last body-of :f",
    "insert body-of :f [9]", "random/seed 1 random body-of :f",
    "move at body-of :f 4 tail body-of :f", "unique body-of :f", "clear body-of :f",
    "append body-of :f [2 + 2]", "bind body-of :f context [x: 1]", "new-line body-of :f true",
    "new-line/all body-of :f false", "remove body-of :f", "change body-of :f 7",
    "append/only body-of :f [1]", "reverse body-of :f",
]

# name, program, a text the output must hold.
CASES = [
    ("no_value_in_branch",
     "g: func [x] [either x > 0 [x + y] [0]]\ng 0 g 0\ng 1\n",
     "y has no value"),
    ("expect_arg_add",
     "g: func [x] [x + 1]\ng 1 g 2\ng \"a\"\n",
     "*** Where: +"),
    ("expect_arg_call",
     "h: func [x [integer!]] [x]\ng: func [x] [h x]\ng 1 g 2\ng 1.5\n",
     "*** Where: h"),
    ("unset_condition",
     # The condition of if and either has its typeset read only for a seldom
     # type such as unset.
     "a: true\ng: func [w] [print if get/any w [1] either get/any w [1] [2]]\n"
     "g 'a g 'a\ng 'never-set-word\n",
     "*** Where: either"),
    ("overflow_to_float",
     "g: func [x] [x * 65536]\nk: func [x] [2147483647 + x]\n"
     "print [g 1 g 2 g 65536 k 1 k 0 k 2 type? k 1]\nprint 1 / (g 0)\n",
     "*** Where: /"),
    ("frames_of_planned_calls",
     # The frames planned calls mark (their headers made by the builder):
     # the interpreted mark and the Stack line read as the interpreter's.
     "z: false\nd: func [n] [either n = 0 [either z [1 + zz] [print system/state/interpreted? 0]]"
     " [1 + d n - 1]]\nd 1 d 1\nprint d 2\nz: true\nd 3\n",
     " d d d d"),
    ("deep_recursion",
     "d: func [n] [either n = 0 [0] [1 + d n - 1]]\nprint d 10 print d 20\nd 1000000\n",
     "stack overflow"),
    ("paren_recursion",
     "d: func [n] [if n > 0 [(d n - 1)] n]\nd 3 d 3\nd 1000000\n",
     "stack overflow"),
    ("return_through",
     "f: func [x] [if x > 1 [return x * 2] x + 100]\n"
     "g: func [x] [loop 3 [if x > 0 [return f x]] 0]\n"
     "print [f 1 f 5 g 0 g 1 g 7]\nprint f zz\n",
     "zz has no value"),
    ("exit_through",
     "f: func [x] [if x [exit] 5]\nprint [mold f false mold f true mold f false]\n"
     "f: func [x] [either x [exit] [qq]]\nf true f true\nf false\n",
     "qq has no value"),
    ("break_through",
     "b: func [x] [either x > 2 [break] [x]]\n"
     "loop 2 [r: copy [] repeat i 5 [append r b i] print mold r]\n"
     "repeat i 2 [b i] b 5\n",
     "*** Where:"),
    ("throw_through",
     "t: func [x] [if x > 2 [throw x * 10] x]\n"
     "print catch [loop 3 [t 1 t 2 t 3]]\nprint catch [t 2 t 4]\nt 1 t 5\n",
     "*** Where:"),
    ("block_changed_while_running",
     "g: func [] [append body-of :g [+ 5] 1]\nprint [g g g]\n"
     "h: func [] [clear skip body-of :h 6 1 2 3]\nprint [h h]\n"
     "k: func [x] [append body-of :k [+ qqq] x]\nprint k 1\nk 2\n",
     "qqq has no value"),
    ("body_changed_between_calls",
     "f: func [x] [x + 1]\nprint [f 1 f 2]\nappend body-of :f [* 10]\nprint [f 1 f 2]\n"
     "change body-of :f [2]\nprint [f 1 f 2]\n"
     "insert body-of :f [w]\nf 3\n",
     "w has no value"),
    ("native_rebound_between_calls",
     "g: func [x] [either x > 0 [x] [0 - x]]\nprint [g 1 g -2]\n"
     "saved: :either\neither: func [c a b] [print \"mine\" 42]\nprint [g 1 g -3]\n"
     "either: :saved\nprint [g 1 g -4]\n"
     "h: func [x] [x + 2]\nprint [h 1 h 2]\n+: :-\nprint [h 1 h 2]\n"
     "k: func [x] [add x 1]\nprint [k 1 k 2]\nadd: :multiply\nprint [k 3]\n"
     "add: func [a] [a + zz]\nk 1\n",
     "*** Where:"),
    ("word_rebound_to_function",
     "n: 10\ng: func [x] [x + n]\nprint [g 1 g 2]\nn: func [] [100]\nprint g 1\n"
     "n: :print\ng 1\n",
     "*** Where:"),
    ("trace_inside_planned_function",
     "tracer: func [event code offset value ref frame] [\n"
     "    [set call return error]\n"
     "    print [event mold/flat :code offset mold :ref]\n]\n"
     "t: func [x] [trace true y: x + 1 trace false y * 2]\n"
     "u: func [x] [y: x + 1 t y]\n"
     "print [t 1 u 1 t 2 u 2]\n"
     "print mold do/trace [trace false u 3 t 4 u 5] :tracer\n"
     "w: func [x] [trace true x + zz]\nw 1 w 1\ndo/trace [trace false w 1] :tracer\n",
     "zz has no value"),
    ("tracing_switched_by_other_paths",
     # Inside a planned body, tracing goes on and off through do/trace,
     # functions marked trace and no-trace, and library code calling user code.
     "tracer: func [event code offset value ref frame] [\n"
     "    [call return]\n"
     "    print [event mold :ref mold/flat :value]\n]\n"
     "f: func [x] [x + 1]\nq: func [[no-trace] x] [f x]\nr: func [[trace] x] [f x]\n"
     "g: func [x] [y: f x do/trace [r y] :tracer z: attempt [q y] w: r z "
     "either x > 5 [f w + zz] [f w]]\n"
     "print [g 1 g 2]\nprint mold do/trace [g 3 f 1] :tracer\nprint g 4\ng 6\n",
     "zz has no value"),
    ("stamp_moved_around_nested_runs",
     # w writes f's body inside g's node, then k's planned run starts and
     # leaves by an error: f's run must still see the write (f's last value).
     "n: 0\nw: func [] [n: n + 1 change at body-of :f 3 n]\nh: func [x] [x + 1]\n"
     "k: func [x] [h x x + zz]\ng: func [x] [w h x attempt [k x] x]\n"
     "f: func [] [g 10 0]\nprint [f f f f]\nk 1\n",
     "zz has no value"),
    ("writes_to_planned_body",
     # Each writer meets a live plan: a fresh function, its plan built and
     # run by its first two calls, then the write, then a call that must see
     # it (the body is planned again or runs on the interpreter's path).
     "mk: func [body] [f: func [] copy/deep body f f]\nt: does [print mold f]\n"
     + "".join("mk [1 + 2 3 4 5 10] %s t\n" % w for w in WRITERS),
     "unset"),
    ("local_becomes_operator",
     # The probe after a value reads a local from the frame: the same word
     # holding an operator on a later call makes the chain infix.
     "h: func [x] [x]\n"
     "g: func [a o] [b1: a o 2 b2: 1 o 2 b3: (a) o 2 b4: h a o 2 b5: a + 1 o 2 "
     "reduce [b1 b2 b3 b4 b5]]\n"
     "print mold g 1 10 print mold g 2 20\nprint mold g 1 :+\nprint mold g 3 :*\n"
     "k: func [a o] [b7: if a > 0 [a] o 3 b8: either a > 0 [a] [a] o 3]\n"
     "print [k 1 5 k 1 5]\nk 1 :+\n",
     "[3 3 3 3 4]"),
    ("global_becomes_operator",
     # The probe after a value reads a global word where its context keeps
     # its values: o and p rebound to an operator (and back) between calls
     # and by sw inside the body, after a literal, a local, a paren, a call
     # and its argument, an operator chain and a branch.
     "o: 10 p: 20 n: 5\nh: func [x] [x]\n"
     "g: func [a] [b1: a o 2 b2: 1 p 2 b3: (a) o 2 b4: h a p 2 b5: a + 1 o 2 b6: a + n p 2 "
     "reduce [b1 b2 b3 b4 b5 b6]]\n"
     "q: func [a] [a o 2]\nr: func [] [1 p 2]\n"
     "print mold g 1 print mold g 2 print [q 1 q 1 r r]\n"
     "o: :+ print mold g 1 print [q 1 r]\n"
     "o: 10 p: :* print mold g 3 print [q 1 r]\n"
     "p: 20 print mold g 4 print [q 1 r]\n"
     "sw: func [v] [o: :v 0]\n"
     "k: func [a] [b1: a o 2 sw :- b2: a o 2 b3: h a o 2 sw 10 b4: a o 2 "
     "reduce [b1 b2 b3 b4]]\n"
     "print mold k 1 print mold k 1 print mold k 5\n"
     "o: :+ print mold k 2 print mold :o\n"
     "e: func [a] [c1: either a > 0 [a] [0] p 3 c2: if a > 0 [a] o 3 reduce [c1 c2]]\n"
     "print mold e 1 print mold e 1 print mold e 0\n"
     "o: 10 p: :+ print mold e 0\ne 1\n",
     "[1 -1 -1 1]"),
    ("object_word_becomes_operator",
     # The same for a word of an object: the object's s, not the global s,
     # and a body bound to the object from outside it.
     "obj: context [\n"
     "    s: 10\n"
     "    m: func [a] [b1: a s 2 b2: (a) s 2 b3: a + 1 s 2 reduce [b1 b2 b3]]\n"
     "]\n"
     "print mold obj/m 1 print mold obj/m 2\n"
     "obj/s: :* print mold obj/m 3\nobj/s: 10 print mold obj/m 4\n"
     "s: :+ print mold obj/m 5\n"
     "t: func [a] bind [b1: a s 2 b2: 1 s 2 reduce [b1 b2]] obj\n"
     "print mold t 1 print mold t 1\nobj/s: :- print mold t 7\n"
     "obj/s: \"x\" print mold t 7\nobj/s: :+ print mold obj/m \"a\"\n",
     "[5 -1]"),
    ("outer_frame_word_becomes_operator",
     # A word of another function's frame is probed through its context:
     # an operator as that function's argument, then no frame at all.
     "outer: func [v] [inner: func [z] [b1: z v 2 b2: 1 v 2 b3: (z) v 2 "
     "reduce [b1 b2 b3]] reduce [inner 1 inner 2 inner 3]]\n"
     "print mold outer 10 print mold outer 20\n"
     "print mold outer :+ print mold outer :*\nprint mold outer 5\n"
     "v: :+\ninner 4\n",
     "context for v is not available"),
    ("probes_in_a_long_body",
     # g's plan takes the most nodes a plan may have, which leaves its
     # probed global word no room for an entry node (it is looked up); k's,
     # one call shorter, has the room. Each call's probe is held by its
     # K_WORDREF, whose header bits next to the small field mean a call of
     # the function itself.
     "o: 10\nh: func [x] [x]\n"
     "g: func [a] [a a " + "h a o 2 " * 818 + "]\n"
     "k: func [a] [a a " + "h a o 2 " * 817 + "]\n"
     "print [g 1 g 1 k 1 k 1]\no: :+\nprint [g 1 k 1]\no: func [] [zz]\ng 1\n",
     "*** Stack: try-do g o"),
    ("branch_goes_on_after_its_node",
     # A branch whose first expression the plan leaves to the interpreter
     # (a path) goes on past it, its later expressions unplanned.
     "o: context [a: 1]\n"
     "g: func [x] [either x > 0 [o/a print x x + y] [if x < 0 [o/a x + y]]]\n"
     "y: 1 print [g 1 g -1 g 0] unset 'y\ng -2\n",
     "y has no value"),
    ("branch_values",
     # A branch of one value: a local holding a function calls it, a word
     # with no value raises in the branch; a branch that makes the word after
     # the conditional an operator continues the expression with it.
     "f: func [] [print \"called\" 7]\ng: func [x y] [either x [y] [nope]]\n"
     "print [g true 1 g true 2]\nprint g true :f\n"
     "o: 5\nk: func [x] [r: either x [o: :+ 1] [2] o 3 r]\n"
     "print [k false k false]\nprint k true\no: 5\nprint k false\ng false 1\n",
     "nope has no value"),
    ("recursive_call",
     # A call of the function whose plan runs takes that plan: not once its
     # arguments changed its body (10 comes to its end), nor under a trace
     # an argument switched on, nor when the word names another function.
     "m: func [n] [if n = 3 [append body-of :r [10]] n]\n"
     "r: func [n] [either n > 0 [1 + r m n - 1] [0]]\n"
     "print [r 1 r 1]\nprint r 5\nprint r 5\n"
     "tracer: func [event code offset value ref frame] [\n"
     "    [call return]\n"
     "    print [event mold :ref]\n]\n"
     "s: func [n] [either n > 0 [1 + s (if n = 2 [trace true] n - 1)] [0]]\n"
     "print [s 1 s 1]\nprint mold do/trace [trace false s 2] :tracer\n"
     "q: func [n] [either n > 0 [1 + q n - 1] [0]]\n"
     "print [q 2 q 2]\np: :q\nq: func [n] [n * 100]\nprint p 2\n",
     "101"),
    ("trace_flags_of_callee",
     # A planned call of a function with trace flags still takes them: a
     # [trace] callee shows its events, a [no-trace] one stays silent.
     "log: copy []\n"
     "logger: func [event code offset value ref frame] [\n"
     "    [call prolog epilog]\n"
     "    append log reduce [event :ref]\n]\n"
     "loud: func [[trace] n] [n * 3]\nquiet: func [[no-trace] n] [n + 1]\n"
     "w: func [n] [1 + loud quiet n]\n"
     "print do/trace [trace false w 1 w 2 w 3] :logger\nprint mold log\n",
     "prolog loud call *"),
    ("operand_kinds",
     # left op right read where the builder found its operands: local,
     # global and literal, on each side; integers, overflow, floats, every
     # fast operation; then a global operand rebound to a string.
     "k: 7 big: 2147483647 fl: 1.5\n"
     "g: func [x y /local r] [r: copy [] "
     + "".join("append r %s " % e for e in [
         "x + 1", "x - y", "k * x", "x + k", "3 - x", "big + x", "x * fl", "x < 2", "x <= y",
         "x > k", "x >= 7", "x = y", "x <> y", "x == y", "x and 6", "x or y", "x xor k"])
     + "r]\n"
     "print mold g 1 2 print mold g 1 2\nprint mold g 2147483647 -1\n"
     "print mold g -2147483648 1\nprint mold g 5 5\n"
     "f: func [x /local r] [r: copy [] append r x + 1.5 append r fl * x append r x - fl "
     "append r x < fl r]\n"
     "print mold f 1.5 print mold f 2.5 print mold f 1\n"
     "k: \"s\"\nprint mold g 3 3\n",
     "*** Where: *"),
    ("outer_word_operand",
     # An operand bound to another function's frame is read through its
     # context, which has none once that function returned.
     "outer: func [a] [inner: func [z] [a + z] inner 1 inner 2 inner 3]\n"
     "print mold outer 1 print mold outer 2\ninner 5\n",
     "context for a is not available"),
    ("called_operator_operands",
     # A called operator's right operand, a paren or a call, runs with the
     # operator's frame marked; an error inside it leaves through that frame.
     "h: func [x] [either x = 0 [zz] [x]]\n"
     "g: func [x] [reduce [x + (h x) x * h x (h x) + h x + (x)]]\n"
     "print mold g 1 print mold g 2\n"
     "k: func [x] [x + (h x)]\nm: func [x] [x * h x]\nk 1 k 1 m 1 m 1\n"
     "print try [k 0]\nm 0\n",
     "*** Stack: try-do m h"),
    ("lane_conditions",
     # A condition two integers give (computed before the conditional's
     # frame) with branches of one value, which take no frame, and branches
     # that run something; conditions the lane leaves (an overflow, a float,
     # a string); a branch value that is a function; an error in a branch
     # after such a condition leaves through the conditional's frame.
     "f: func [] [9]\nb: 2147483647\n"
     "g: func [x y] [reduce [if x < 2 [x] if x > 2 [y] either x = 1 [y] [x] "
     "either x + b [1] [2] either x * 2 [x + 1] [0] if x - 1 [y] either x [x] [0]]]\n"
     "print mold g 1 5 print mold g 1 5\nprint mold g 3 :f\nprint mold g 1.5 2\n"
     "print mold g 2147483647 0\nprint mold try [g \"s\" 0]\n"
     "h: func [x] [either x < 2 [x + zz] [x]]\nh 5 h 5\nh 1\n",
     "*** Near : x + zz"),
    ("leaf_conditions",
     # A condition that is a literal or a word holding a plain value is taken
     # before the conditional's frame too: every kind of value as condition,
     # a word that loses its value, an error in a branch after such a one.
     "t: true f: false n: none s: \"\" z: 0\n"
     "g: func [x] [reduce [either t [1] [2] either f [1] [2] if n [3] if s [4] either z [x] [0] "
     "either x [x] [0] if x [x] either 1.5 [1] [2] either 'q [1] [2]]]\n"
     "print mold g 1 print mold g 1\nprint mold g none\nprint mold g false\n"
     "k: func [x] [either x [x + zz] [u]]\nprint mold try [k false] print mold try [k false]\n"
     "u: 5 print k false\nk 1\n",
     "*** Near : x + zz"),
    ("leaf_condition_words",
     # A condition word read where its context's values live (the global
     # context, an object) or through its context (another function's
     # frame, which has none once that returned), rebound between calls to
     # another value, a function, an operator or nothing; a recursion to the
     # stack's end through the branch after such a condition; an operator
     # after the conditional held by a word with no entry of its own.
     "t: true\no: context [a: true g: func [x] [either a [x] [0]]]\n"
     "g: func [x] [reduce [either t [x] [0] if t [x] o/g x]]\n"
     "print mold g 1 print mold g 1\nt: false o/a: none\nprint mold g 2\n"
     "t: func [] [print \"called\" false]\nprint mold g 3\n"
     "d: func [n] [either t [d n + 1] [0]]\nt: true\ne: try [d 1] print [e/id mold e/near]\n"
     "outer: func [a p] [inner: func [z] [either a [z] [0] p 3] reduce [inner 1 inner 2 inner 3]]\n"
     "print mold outer true 5 print mold outer false 5\n"
     "e: try [outer true :+] print [e/id mold e/near]\nprint mold try [inner 4]\n"
     "t: :+\ne: try [g 4] print [e/id mold e/near]\nunset 't\ng 5\n",
     "t has no value"),
    ("leaf_parens",
     # A paren of one leaf is taken without running its block, as a
     # statement, an argument, an operand, and a called operator's right
     # operand: floats, overflow, a word that comes to hold a function, an
     # unset word and a wrong type on the right of an operator.
     "t: 7 big: 2147483647 v: 1\n"
     "g: func [x] [(x) (1) reduce [(x) (1) (t) ([a]) (x) + 1 x + (x) x - (t) x * (big) "
     "x < (t) (x) = 2 negate (x)]]\n"
     "print mold g 1 print mold g 1\nprint mold g 2.5\nprint mold g -2\n"
     "k: func [] [(v)] k k v: func [] [9] print k\n"
     "u: func [x] [x + (w)]\nprint mold try [u 1] print mold try [u 1]\n"
     "w: 2 print u 1 w: \"s\"\nu 1\n",
     "*** Near : x + (w)"),
    ("leaf_parens_deep",
     # Recursion to the stack's end through parens of one leaf taken without
     # their run: the overflow comes where the paren's run would raise it.
     "a: func [n] [(n) a n + 1]\nb: func [n] [n + (n) + b n + 1]\n"
     "c: func [n] [either n > 0 [(n)] [(n) c n - 1]]\nd: func [n] [c (n) d n + 1]\n"
     "foreach f [a b d] [e: try [do reduce [f 1]] print [e/id mold e/near]]\n",
     "stack-overflow (n)"),
    ("paren_operand_lane",
     # left op (leaf) computed with neither the operator's frame nor the
     # paren's run, as a statement, an argument, a set-word's value and a
     # condition: every kind of leaf on each side, overflow, floats, an
     # operator after it (a local and a global that come to hold one), a word
     # in the paren that comes to hold a function or a native, the operator
     # rebound, a string on the right; the position the paren leaves, seen by
     # the next argument's error; an error in the paren names the operator.
     "k: 7 big: 2147483647 fl: 1.5 o: 10\nh: func [x] [x]\nw: func [a b] [a]\n"
     "g: func [x p /local r s] [r: copy [] append r x + (x) append r 1 - (x) append r k * (x) "
     "append r x + (k) append r x < (3) append r big + (x) append r x * (fl) "
     "append r x - (big) s: x - (x) append r s append r h x + (2) x + (x) p 2 "
     "append r x + (x) o 3 append r x = (k) either x + (k) [append r 0] [] x * (x) r]\n"
     "print mold g 1 5 print mold g 1 5\nprint mold g 2147483647 5\nprint mold g 1.5 5\n"
     "print mold g -3 :*\no: :+ print mold g 2 5 o: 10\n"
     "k: func [] [print \"called\" 3] print mold g 4 5\n"
     "k: 7 fl: :print print mold try [g 1 5] fl: 1.5\n"
     "plus: :+ +: :- print mold g 1 5 +: :plus\nprint mold try [g \"s\" 5]\n"
     "n: func [x] [w x + (x) 1 / 0]\nloop 3 [print mold try [n 1]]\n"
     "q: func [n] [print n + (zz)]\nattempt [q 1] attempt [q 1]\nq 1\n",
     "*** Where: +"),
    ("paren_operand_lane_deep",
     # Recursion to the stack's end through left op (leaf): the room the
     # operator's frame and the paren's run would take is checked where they
     # would take it, for frames of several sizes, and for calls of no
     # argument, which run out of frames before cells.
     "d0: func [n] [n + (n) d0 n + 1]\nd1: func [n /local a] [n + (n) d1 n + 1]\n"
     "d2: func [n /local a b] [n + (n) d2 n + 1]\nd3: func [n /local a b c] [n + (n) d3 n + 1]\n"
     "e0: func [n] [1 + (n) e0 n + 1]\nw: func [a b] [a]\nr: func [n] [w n + (n) r n + 1]\n"
     "s: func [n] [w 1 + (n) s n + 1]\n"
     "foreach f [d0 d1 d2 d3 e0 r s] [e: try [do reduce [f 1]] print [f e/id mold e/near e/where]]\n"
     "c: 1\nz0: func [] [c + (c) z0]\nz1: func [] [c + (c) if true [z1]]\n"
     "z2: func [] [if true [c + (c) z2]]\nz3: func [] [c + (c) if true [if true [z3]]]\n"
     "foreach f [z0 z1 z2 z3] [e: try [do reduce [f]] print [f e/id mold e/near e/where]]\n",
     "stack-overflow (n) +"),
    ("statement_left_after_its_paren",
     # A statement the builder gives up on (an operator with nothing after
     # it) once it planned a paren in it: that paren's block is not planned
     # into some other node, a branch's leaf or past the nodes.
     "h: func [x] [x]\nh2: func [x y] [x]\n"
     "f: func [a] [print if a [a] h2 a (a) +]\ng: func [a] [print either a [a] [0] h (a) +]\n"
     "loop 3 [attempt [f 1] attempt [g 2]]\nf 3\n",
     "1\n2\n1\n2\n1\n2\n3\n"),
    ("leaf_bodies",
     # A called function whose body is one leaf gives its value with nothing
     # run: a local, a literal, a global, an operator after the call (and one
     # stored by its argument), a local holding a function (which the body
     # calls), a global that loses its value, the position an error after
     # the call reports, and deep recursion through such calls.
     "o: 10 gw: 4\n"
     "id: func [a] [a] one: func [] [1] glob: func [] [gw]\nf0: func [] [print \"ran\" 3]\n"
     "g: func [x] [r1: id x r2: id 1.5 r3: one r4: glob r5: id x o 2 r6: id [b] r7: id :f0 "
     "reduce [r1 r2 r3 r4 r5 r6 r7]]\n"
     "print mold g 1 print mold g 2\no: :+ print mold g 3\no: 10 gw: \"s\" print mold g 4\n"
     "five: func [a] [5] minus: func [] [:-]\n"
     "sq: func [x] [o: 10 r1: five o: minus o 2 r2: five x o 2 reduce [r1 r2]]\n"
     "print mold sq 1 print mold sq 1 o: 10\n"
     "m: func [x] [add id x \"a\"]\nprint mold try [m 1] print mold try [m 1]\n"
     "d: func [n] [id n d n + 1]\ne: try [d 1] print [e/id mold e/near]\n"
     "k: func [] [glob]\nk k unset 'gw\nk\n",
     "*** Stack: try-do k glob"),
    ("leaf_calls_without_frames",
     # Calls of functions whose body is one leaf, with no argument or one
     # leaf argument, mark no frame when nothing would run in it: anything
     # that would see the frame or fail takes the call's way (an operator
     # after a call of no argument, an unset argument, an argument of the
     # wrong type, a callee whose body changed, one called the first time).
     "o: 10 gw: 4\n"
     "id: func [a] [a] one: func [] [1] idi: func [a [integer!]] [a] fresh: func [a] [a]\n"
     "g: func [x] [r1: one o 2 r2: id gw r3: idi x r4: fresh x reduce [r1 r2 r3 r4]]\n"
     "print mold g 1 print mold g 2 o: :+ print mold g 3 o: 10\n"
     "append body-of :fresh [+ 1] print mold g 4\n"
     "change body-of :one [7] print mold try [g 5]\n"
     "print mold try [g \"s\"]\nunset 'gw\ng 6\n",
     "*** Stack: try-do g id"),
    ("conditional_word_after_last_branch",
     # A conditional followed by its own word takes that word's probe from
     # its own check: either rebound to a function, then to an operator,
     # between calls; then a word of the same name bound elsewhere after the
     # last branch, turned into an operator.
     "t: true\ng: func [x] [either t [x] [x] either t [x + 1] [x] if t [x] if x > 0 [x * 2] "
     "if t [x] either x > 1 [x] [0] either t [x] [x]]\nprint [g 1 g 2]\n"
     "saved: :either\neither: func [c a b] [print \"mine\" 42]\nprint g 3\n"
     "either: :saved\nprint g 4\neither: :+\nr: try [g 5]\neither: :saved\n"
     "print [mold r g 6]\n"
     "o: context [either: 10]\nk: func [x] compose [either t [x] [x] (in o 'either) 5]\n"
     "print [k 1 k 2]\no/either: 20\nprint [k 3]\no/either: :+\nk 4\n",
     "either does not allow block!"),
    ("probes_left_to_next_statement",
     # A statement's lookahead answered by the next statement's own read of
     # the word, then that word turned into an operator: after a local (with
     # the next a local, a global, a call, a native, a lane's left operand),
     # after a global, after a call of no argument, after a call that
     # rebinds the next word itself, after a lane; and the error a local
     # operator with nothing after it raises.
     "f: func [a b c] [a b c]\nprint [f 1 2 3 f 1 2 3 f 1 :+ 3 f 1 :* 3]\n"
     "print mold try [f 1 2 :+]\nf 1 :print 3\n"
     "gw: 7\ng: func [x] [x gw 5]\nprint [g 1 g 2]\ngw: :-\nprint g 10\n"
     "w: func [x] [gw x 5]\ngw: 100\nprint [w 1 w 2 w :+]\n"
     "k0: func [] [5]\nm: func [x] [x * 10]\nh: func [] [k0 m 2]\nprint [h h]\nm: :+\n"
     "print h\n"
     "k: func [x] [if x > 2 [m: :+] x]\nj: func [a] [k a m a]\nm: func [x] [x * 10]\n"
     "print [j 1 j 2 j 3]\n"
     "pr: :form\np: func [a] [k0 pr a]\nprint [p 1 p 2]\npr: :*\nprint p 3\n"
     "l: func [x] [x + 1 m 2]\nm: func [x] [x * 10]\nprint [l 1 l 2]\nm: :-\nprint l 5\n"
     "q: func [x y] [x y + 1]\nprint [q 1 2 q 1 2]\nprint mold try [q 1 :*]\n"
     "s: func [x y] [x y]\nprint [s 1 2 s 1 2]\ns 1 :+\n",
     "y is missing its value2 argument"),
    ("leaf_statements_at_the_stack_end",
     # Leaf statements other than a block's last are not pushed: reached
     # with the stack one cell from its end, the block still overflows at
     # its first leaf. The wrapper's locals shift where recursion meets the
     # end, so some runs arrive there exactly.
     "d: func [n /local a b c] [a b n either n = 0 [0] [d n - 1] a]\nd 2 d 2\n"
     "locals: copy []\nrepeat i 40 [\n    w: func compose [/local (locals)] [d 100000]\n"
     "    e: try [w]\n    print [i e/id mold e/near]\n"
     "    append locals to word! rejoin [\"v\" i]\n]\n",
     "stack-overflow [a b n either"),
    ("remainder_fallbacks",
     # % of two integers is computed in place, except where the action raises.
     "r: func [x y] [x % y]\nprint [r 7 3 r -7 3 r 7 -3 r 7.5 2 r 2147483647 2]\n"
     "print mold try [r -2147483648 -1]\nloop 3 [print [(5 % 3) 1 + (7 % 4)]]\n"
     "print mold try [loop 2 [x: 0 print 5 % x]]\nr 1 0\n",
     "*** Where: %"),
    ("paths_in_planned_bodies",
     # A path is run by the interpreter, and the walk comes back to the plan
     # where it ended as the builder saw it: one cell, or a set-path and its
     # value. A path that turns into a call leaves the plan for the rest of
     # its block.
     "o: context [v: 1]\ng: func [x /local y] [y: o/v + x o/v: y * 2 print [:x 'x o/v] y]\n"
     "print [g 1 g 2]\no/v: func [a] [a * 100]\nprint mold try [g 3]\n"
     "b: context [x: 1]\nloop 3 [b/x: b/x + 1 prin b/x prin \" \"] print \"\"\n"
     "o: context [v: \"s\"]\ng 4\n",
     "*** Where: +"),
    ("path_nodes",
     # Paths of two elements are read and stored by the plan in place while
     # they reach a number or plain value on an object without a change
     # handler: objects of other shapes met in turn, a change handler, a
     # field that is a string, overflows, no such field, a head that is no
     # object, a field holding a function (a call), an unset field, self,
     # and an error after them.
     "walk: func [b k /local s] [s: 0 foreach o b [s: s + (o/x * k)"
     " o/x: o/x + (k * 2) - o/y prin [o/x \"\"]] print \"\" s]\n"
     "objs: reduce [context [x: 1.5 y: 2] context [y: 3 x: 5] context [x: 1 y: 0.5 z: 3]]\n"
     "print walk objs 2 print walk objs 3\n"
     "c: context [x: 1 y: 1 on-change*: func [w o n] [prin [\"chg\" w o n \"\"]]]\n"
     "print walk reduce [c c] 1\n"
     "print mold try [walk reduce [context [x: 1 y: \"a\"]] 1]\n"
     "print mold try [walk reduce [context [x: 2147483647 y: 0]] 2147483647]\n"
     "print mold try [walk reduce [context [y: 1]] 1]\nprint mold try [walk [5] 1]\n"
     "f: context [x: func [a] [a * 100] y: 1]\nprint mold try [walk reduce [f] 2]\n"
     "u: context [x: 1 y: 2] unset in u 'x\nprint mold try [walk reduce [u] 2]\n"
     "s: func [o] [o/self: 1]\nprint mold try [s context [a: 1]] print mold try [s context [a: 1]]\n"
     "walk reduce [context [x: 1 y: 2]] zz\n",
     "zz has no value"),
    ("field_calls",
     # A path whose field holds a function is a call whose extent its
     # arguments give when the plan is built; a field changed since (other
     # arguments, no function, another object) leaves the plan where the
     # position differs.
     "m: context [f: func [a] [a * 2] g: 5]\n"
     "h: func [x] [print [(m/f x + 1) + m/f x - 1 m/g] m/f x]\nh 1 h 2\n"
     "m/f: func [a b] [a + b]\nprint mold try [h 3]\nm/f: 10\nprint h 4\n"
     "m/f: func [] [7]\nprint h 5\nm: context [f: func [a] [a * 3]]\n"
     "print mold try [h 6]\nm: context [f: func [a] [a * 3] g: 1]\nprint h zz\n",
     "zz has no value"),
    ("field_calls_planned",
     # The call of a field's function runs planned: its frame named by the
     # path's head, its arguments checked, objects of other shapes and a
     # field that is no function met in turn, recursion to the stack's end,
     # errors inside the callee and in its arguments.
     "m: context [f: func [a] [a * 2] g: 5 s: context [t: func [a] [a + 1]]]\n"
     "h: func [x] [print [(m/f x + 1) + m/f x - 1 m/g m/f m/f x] m/f x]\nh 1 h 2\n"
     "k: func [o x] [o/f x]\n"
     "print [k m 1 k m 2 k context [f: func [a] [a - 1]] 5\n"
     "    k context [f: func [a] [a * 10] g: 1] 5]\n"
     "print mold try [k context [f: 5] 1]\n"
     "r: func [n] [if n > 0 [m/f r n - 1] n]\n"
     "r 3 r 3\n"
     "print mold try [r 100000]\n"
     "m/f: func [a] [a + zz]\n"
     "print mold try [h 1]\n"
     "m/f: func [a [string!]] [a]\n"
     "print mold try [h 1]\n"
     "w: context [f: func [a] [a * 2] run: func [x] [f x + self/f x]]\n"
     "print [w/run 1 w/run 2]\n"
     "h zz\n",
     "zz has no value"),
    ("field_calls_after_changes",
     # A planned field call compares the path's cells, the head's object and
     # the field's function with those it was built with: each changed in
     # turn (the path's own cells written, the head rebound to an object of
     # more fields, the field set and set back, the head rebound to another
     # object or to no object), and the head an object made from another
     # (its values in its context's own series).
     "m: context [f: func [a] [a * 2] g: func [a] [a - 1]]\n"
     "q: context [f: func [a] [a + 100]]\n"
     "h: func [x] [(m/f x) + m/f x + 1]\nh 1 h 2\nprint h 3\n"
     "p: first first body-of :h\nchange p 'q\nprint h 3\n"
     "change p 'm change next p 'g\nprint h 3\nchange next p 'f\n"
     "m: make m [z: 1]\nprint [h 3 m/z]\n"
     "old: :m/f\nm/f: func [a] [a * 10]\nprint h 3\nm/f: :old\nprint h 3\n"
     "n: make m []\nk: func [x] [n/f x]\nk 1 k 2\nprint k 3\n"
     "n/f: func [a] [a + 1000]\nprint k 3\n"
     "m: q\nprint h 3\nm: 5\nprint mold try [h 3]\nh zz\n",
     "zz has no value"),
    ("path_calls_in_left_parens",
     # A paren of one call through a path, an operator's left operand, runs
     # that call straight: its paren written while the call runs, the callee
     # changed, a throw and a return out of it, an error inside.
     "f: func [a /r b] [either r [a + b] [a]]\nm: context [g: func [a] [a * 2]]\n"
     "h: func [x] [(f/r x 1) - (m/g x) + ((m/g x) * 3)]\nh 1 h 2\nprint h 3\n"
     "k: func [x] [(m/g x) + (f/r x 2)]\nk 1 k 2\nprint k 3\n"
     "m/g: func [a] [append first body-of :k 100 a]\nprint k 4\n"
     "print [k 5 mold body-of :k]\nf: func [a /r b] [a * 100]\nprint [h 3 k 3]\n"
     "m/g: func [a] [either a > 5 [throw a] [a]]\nprint catch [k 7]\n"
     "s: func [x] [(f/r x 2) + 1]\ns 1 s 2\n"
     "f: func [a /r b] [if a = 3 [return 77] a]\nprint [s 3 s 4]\n"
     "m/g: func [a] [a + zz]\nk 6\n",
     "zz has no value"),
    ("library_functions_in_fields",
     # A field may hold a library function: its call from a planned user
     # body runs as library code, with the library's calls mark.
     "m: context [f: :probe g: :dirize]\n"
     "h: func [x] [m/f x m/g \"a\"]\nloop 3 [print [h 1 m/f 2 m/g \"b\"]]\n"
     "print m/g zz\n",
     "zz has no value"),
    ("quiet_chains_at_the_stack_end",
     # Chains of numbers through paths and nested parens mark no frame and
     # push no paren: reached with the stack at its end, they still overflow
     # where the interpreter does.
     "p: context [a: 1.5 b: 2]\n"
     "d: func [n /local a] [a: p/a + (n * 2) + ((n * 1.5) - p/b)"
     " p/b: p/a - (n * (0.5 * n)) either n = 0 [0] [d n - 1]]\nd 2 d 2\n"
     "locals: copy []\nrepeat i 40 [\n    w: func compose [/local (locals)] [d 100000]\n"
     "    e: try [w]\n    print [i e/id mold e/near]\n"
     "    append locals to word! rejoin [\"v\" i]\n]\n",
     "stack-overflow"),
    ("quiet_set_words_at_the_stack_end",
     # A set-word whose value is a leaf or a lane marks no frame: reached
     # with the stack at its end, it still overflows where the interpreter
     # does (the wrapper's locals shift where recursion meets the end).
     "d: func [n /local a b] [a: n b: n + 1 either n = 0 [0] [d n - 1]]\nd 2 d 2\n"
     "locals: copy []\nrepeat i 40 [\n    w: func compose [/local (locals)] [d 100000]\n"
     "    e: try [w]\n    print [i e/id mold e/near]\n"
     "    append locals to word! rejoin [\"v\" i]\n]\n",
     "stack-overflow"),
    ("quiet_set_word_chains",
     # A set-word's chain of fast steps is computed with no frame; a step
     # that does not fit, a comparison with a step after it, a paren step or
     # a rebound operator takes the frame's path.
     "c: func [x /local y z w] [y: x * 65536 * 65536 z: x < 2 = true w: x + 1 * 2 + (x)"
     " print [y z w] y]\nc 1 c 2\nprint c 3\nmul: :*\n*: :-\nprint c 4\n*: :mul\n"
     "print c 5\nc \"a\"\n",
     "*** Where: *"),
    # Blocks run by loops get plans of their own (their second run builds).
    ("loop_body_changed_while_running",
     "b: [append b [+ 5] 1]\nprint loop 3 b\nprint mold b\n"
     "c: [x: 1 append c [qq]]\nloop 3 c\n",
     "qq has no value"),
    ("loop_body_of_a_function_that_returned",
     # Its words read the function's frame only while the function runs.
     "f: func [x] [[x + 1]]\nb: f 1\nprint mold try [loop 3 b]\n"
     "g: func [x] [loop 2 [print x + 1] [x * 2]]\nd: g 5\nloop 2 d\n",
     "*** Where:"),
    ("loop_bodies_in_recursion",
     # The body's words read the frame of the call running it: recursion
     # inside moves the values and puts them back.
     "f: func [n] [repeat i 2 [if n > 0 [f n - 1] prin [n i \"\"]] print \"\"]\nf 2\n"
     "g: func [n /local k] [k: 0 while [k < 2] [k: k + 1 if n > 0 [g n - 1] prin [n k \"\"]]"
     " k + zz]\ng 2\n",
     "zz has no value"),
    ("words_of_two_functions_in_a_loop_body",
     "inner: func [b /local x] [x: 5 loop 3 append copy b [prin x x: x + 1] x]\n"
     "outer: func [a] [inner [a: a + 1 prin a]]\nprint outer 1\nprint outer 10\n"
     "w: func [b /local y] [y: 2 loop 2 b]\nv: func [a] [w [print a + y]]\nv 1\n",
     "y has no value"),
    ("words_rebound_inside_loop_bodies",
     "h: func [x] [x]\nloop 3 [print h 5 h: func [x] [x * 2]]\n"
     "a: 1 b: 2\nrepeat i 3 [print mold try [a b] a: :+]\n"
     "t: 1 loop 3 [print [t] if t = 2 [either: func [c a b] [print \"own\"]] t: t + 1]\n"
     "either: :if\nloop 2 [print 1 + zz]\n",
     "zz has no value"),
    ("exits_from_loop_bodies",
     "n: 0 while [n < 4] [n: n + 1 if n = 2 [continue] if n = 4 [break] print n]\n"
     "f: func [k] [foreach x [1 2 3] [if x = k [return x * 10]] 0]\nprint [f 2 f 3 f 9]\n"
     "print catch [forever [repeat i 3 [if i = 2 [throw i]]]]\n"
     "r: [1 2 3 4] remove-each x r [x > 2] print mold r\n"
     "s: [1 2 3] forall s [if s/1 = 2 [s/1: 20]] print mold s\n"
     "m: 0 until [m: m + 1 m > 2] print m\n"
     "loop 2 [while [true] [1 / 0]]\n",
     "*** Where: /"),
    # Library functions' bodies are planned too: their runs leave the user
    # code's position alone, so an error inside one is near the user code
    # that called it (or the user code it last ran), as the interpreter
    # reports it.
    ("library_calls_with_bad_arguments",
     "b: [1 2 3]\ng: func [x] [reduce [first x last x empty? x mod 7 3]]\n"
     "print mold g b print mold g b\nprint mold try [g 5]\n"
     "h: func [x y] [mod x y]\nprint [h 7 3 h 8 3]\n"
     "e: try [h 5 0] print [e/id mold e/near mold e/where]\n"
     "s: func [v] [sum v]\nprint [s [1 2] s [3 4]]\n"
     "e: try [s [1 \"a\"]] print [e/id mold e/near mold e/where mold e/arg1 mold e/arg2]\n"
     "r: func [v] [repend v [1 + 2 zz]]\n"
     "loop 2 [e: try [r copy []] print [e/id mold e/near mold e/where]]\n"
     "print mold try [empty? 5]\nh 1 0\n",
     "*** Near : mod x y"),
    ("library_functions_given_callbacks",
     # A block or function handed to library code that breaks, returns,
     # throws or raises: the exit crosses the library's planned frames.
     "f: func [n] [loop 3 [attempt [if n > 1 [break] n: n + 1]] n]\nprint [f 0 f 0 f 5]\n"
     "c: func [n] [collect [keep n if n > 2 [return n * 10] keep n + 1]]\n"
     "print [mold c 1 mold c 1 mold c 5]\n"
     "t: func [n] [catch [collect [keep n throw n + 100]]]\nprint [t 1 t 1]\n"
     "a: func [] [attempt [1 / 0]]\nprint [mold a mold a]\n"
     "w: func [n] [repeat i 3 [collect [keep i if i = n [break]]] n]\nprint [w 2 w 2]\n"
     "q: func [n] [also n return n + 1]\nprint [q 1 q 1]\n"
     "k: func [n] [collect [keep n keep n / 0]]\nprint mold try [k 1]\nk 1\n",
     "*** Stack: try-do k collect keep"),
    ("near_after_block",
     # A body that ran to its end, also one return ended, and a loop's gives
     # the position back: the error later in the expression is near it.
     "f: does [3 - 1]\nr: func [] [return 3 - 1]\n"
     "q: func [x] [add f add r add loop 1 [3 - 1] x]\nq 1 q 1\nq none\n",
     "*** Near : add f add r add loop 1 [3 - 1] x"),
    ("library_function_calls_user_code",
     # A word the library calls, rebound by the user: the error the library
     # raises after that user code ran is near the user code's last position.
     "m: func [a b] [mod a b]\nprint [m 7 3 m -7 3]\nsaved: :absolute\n"
     "absolute: func [v] [print \"mine\" \"x\"]\n"
     "e: try [m 7 3] print [e/id mold e/near mold e/where]\n"
     "absolute: :saved\nprint [m 7 3 m -7 3]\n"
     "b: [1 2 3 4]\nx: func [v] [extract v 2]\nprint mold x b print mold x b\n"
     "kept: :skip\nskip: func [s n] [print \"mine\" n + 1]\n"
     "e: try [x b] print [e/id mold e/near mold e/where]\nskip: :kept\n"
     "absolute: func [v] [print \"mine\" \"x\"]\nm 5 3\n",
     "*** Near : \"x\""),
    ("library_function_redefined",
     # The user's own function under a library name, in user code planned
     # with the library's, in library code calling it, and put back.
     "b: [1 2 3 4]\nx: func [v] [extract v 2]\ng: func [v] [reduce [first v last v]]\n"
     "print mold x b print mold x b print mold g b print mold g b\n"
     "saved: :first\nfirst: func [s] [pick s 2]\nprint mold x b print mold g b\n"
     "first: func [s] [s/9 + zz]\nprint mold try [x b]\nprint mold try [g b]\n"
     "first: :saved\nprint mold x b print mold g b\n"
     "saved-pick: :pick\npick: func [s i] [i * 100]\nprint [first b second b last b]\n"
     "pick: :saved-pick\nprint [first b second b last b]\n"
     "mod: func [a b] [a - b + zz]\nprint mold try [mod 1 2]\n"
     "first: func [s] [s + zz]\nx b\n",
     "*** Stack: try-do x extract first"),
    ("field_call_of_library_function",
     # A field holding a library function: its call runs the callee as
     # library code, which leaves the position an error reports to the
     # user code that called it.
     "o: context [f: :mod]\ng: func [x y] [o/f x y]\nprint [g 7 3 g 8 3]\n"
     "print mold try [g \"a\" 2]\ng 5 0\n",
     "*** Near : o/f x y"),
    ("refined_calls",
     # A path naming refinements of the function its head word holds is a
     # planned call: refinements used or not, in the spec's order or not, a
     # refinement's argument, locals, none of them; an operator after a call
     # of no argument, a word after one that turns into an operator, and
     # /local named as a refinement (the interpreter's error).
     "f: func [a /r b /s c] [reduce [a r b s c]]\n"
     "g: func [x] [reduce [f x f/r x x + 1 f/s x 3 f/r/s x 1 2 f/s/r x 1 2]]\n"
     "print mold g 1 print mold g 2\n"
     "h: func [x /local y] [y: f/r x 10 * 2 y]\nprint mold h 1 print mold h 2\n"
     "q: func [n /quiet /local a] [a: n either n < 2 [n] [(q/quiet n - 1) + q/quiet n - 2]]\n"
     "print [q 10 q 12]\n"
     "n0: func [/r] [either r [10] [20]]\no: 5\nk: func [] [x: n0/r o 2]\n"
     "m: func [] [n0/r + 1]\nprint [k k m m]\no: :+\nprint k\no: :*\nprint k\n"
     "l: func [x] [f/local x]\nprint mold try [l 1] print mold try [l 1]\n"
     "z: func [] [f/r 1]\nprint mold try [z] print mold try [z]\nl 2\n",
     "*** Where: f"),
    ("refined_calls_changed",
     # What a refined call's plan expects changes: the function redefined
     # between calls and while the call's own arguments run, and inside a
     # loop; the head rebound to an object holding a function, to a block,
     # to a function lacking the refinement; the path itself rewritten.
     "f: func [a /r b] [reduce ['f a r b]]\ng: func [x] [f/r x x]\n"
     "print mold g 1 print mold g 2\n"
     "f: func [a /r b] [reduce ['f2 a r b]]\nprint mold g 3\n"
     "f: context [r: func [a b] [reduce ['obj a b]]]\nprint mold try [g 4]\n"
     "f: [10 20 30] r: 2\nprint mold try [g 5]\n"
     "f: func [a /q b] [a]\nprint mold try [g 6]\n"
     "f: func [a /r b] [reduce [a b]]\n"
     "e: func [x] [reduce [f/r x (f: func [a /r b] [reduce ['late a b]] 1) f/r x 2]]\n"
     "print mold e 1 f: func [a /r b] [reduce [a b]] print mold e 2\n"
     "w: func [n] [loop n [f/r 1 2 f: func [a /r b] [a * 100]] f/r 3 4]\n"
     "print mold w 2 print mold w 2\n"
     "f: func [a /r b] [reduce [a b]]\nt: func [x] [f/r x x * 2]\n"
     "print mold t 1 print mold t 2\np: first body-of :t\n"
     "p/2: 'zz\nprint mold try [t 3]\np/2: 'r\nprint mold t 4\n"
     "append p 'q\nprint mold try [t 5]\nremove back tail p\n"
     "p/1: 'other\nother: func [a /r b] [reduce ['other a b]]\nprint mold t 6\n"
     "other: 5\nt 7\n",
     "*** Where: t"),
    ("refined_call_errors",
     # Errors of refined calls: a refinement's argument of the wrong type,
     # an error inside the callee, one in an argument, recursion to the
     # stack's end.
     "t: func [a /r b [integer!]] [a + any [b 0]]\nu: func [x] [t/r 1 x]\n"
     "print [u 1 u 2]\nprint mold try [u \"x\"]\n"
     "e: func [a /r b] [b + zz]\nk: func [x] [e/r x 1]\n"
     "print mold try [k 1] print mold try [k 1]\n"
     "v: func [x] [e/r x yy]\nprint mold try [v 1] print mold try [v 1]\n"
     "d: func [n /deep] [either n = 0 [0] [1 + d/deep n - 1]]\nprint d 10 print d 20\n"
     "print mold try [d 1000000]\nu 1.5\n",
     "*** Near : t/r 1 x"),
    ("routine_calls",
     # Type tests (routines) called from planned code: on paths, as a
     # conditional's condition, a bad argument, one rebound to a function
     # and back, and left without its argument.
     "k: func [x] [either none? x/left [1] [1 + k x/left]]\n"
     "o: context [left: context [left: context [left: none]]]\nprint [k o k o]\n"
     "g: func [x] [reduce [none? x integer? x string? x/1 logic? none? :x]]\n"
     "print mold g [1] print mold g [\"a\"]\nprint mold try [g none]\n"
     "saved: :none?\nnone?: func [v] [prin \"mine \" false]\nprint mold try [k o]\n"
     "none?: :saved\nprint k o\n"
     "h: func [] [integer? 1 integer?]\nh\n",
     "*** Where: integer?"),
    ("division_in_chains",
     # / is a fast operation: an exact quotient of integers stays an
     # integer, an inexact one is a float, a float by zero is infinite, an
     # integer by zero and -2147483648 / -1 raise as the action does; in
     # chains through paths, parens and set-paths, and called with a paren.
     "o: context [a: 7 b: 2.0 c: 0]\n"
     "q: func [x y /local r] [r: x / y print [r type? r (x / y) * 2 x / (y) o/a / x"
     " 1 + (o/b / y)] o/b: o/b / x + (o/a / 2) r]\n"
     "foreach [x y] [6 3 7 2 -7 2 1.5 0.5 7 2.0 1 0.0 -1.0 0 2147483647 -1] [q x y]\n"
     "print [o/b 10 / 4 10 / 5 3.0 / 0]\n"
     "print mold try [q 5 0]\nprint mold try [q -2147483648 -1]\n"
     "print mold try [q 1 o/c]\nprint mold try [q 1 \"a\"]\n"
     "loop 2 [print [o/a / 7 o/a / o/c]]\n",
     "zero-divide"),
    ("square_roots_in_chains",
     # square-root of a leaf or a path on the right of a step is computed in
     # its chain: an integer, a float, a negative number (NaN), a percent
     # and a string (the native's run and its error), the word rebound to a
     # function and back.
     "p: context [v: 16]\n"
     "m: func [d /local r] [r: 1.0 / (d * square-root d) p/v: p/v * square-root p/v"
     " print [r 2 + square-root d p/v] r]\n"
     "foreach d [4 2.25 -1.0 0 50%] [m d]\n"
     "saved: :square-root\nsquare-root: func [x] [x * 10]\nm 4\nsquare-root: :saved\nm 9\n"
     "print mold try [m \"a\"]\nm zz\n",
     "zz has no value"),
    ("returns_from_branches",
     # A branch of `return leaf` that is a statement of the body ends it
     # without the exit; in a loop's block, with a value that is not plain,
     # or under a `return` rebound by the user, the return runs as before.
     # The error after it is near where the return left the position.
     "r: func [n] [if n < 2 [return n] (r n - 1) + r n - 2]\n"
     "e: func [n] [either n > 0 [return n * 2] [return n] 7]\n"
     "w: func [x] [if x [return :print] 0]\n"
     "l: func [n] [loop 3 [if n > 1 [return n]] 0]\n"
     "print [r 10 r 10 e 3 e -3 e 3 mold w true mold w false l 1 l 5 l 5]\n"
     "rr: func [n] [if n > 0 [return n] 5]\nprint [rr 1 rr 1]\n"
     "saved: :return\nreturn: func [v] [v * 100]\nprint [rr 1 rr 0]\nreturn: :saved\n"
     "print [rr 1 r 6 r 1]\nd: func [n] [if n = 0 [return 0] 1 + d n - 1]\n"
     "e: try [d 1000000] print e/id\ng: func [n] [(r n) + zz]\ng 1\n",
     "zz has no value"),
    ("parens_of_one_call",
     # A paren holding one call: its callee rebound, an error inside, and
     # the paren's block grown while its call runs.
     "h: func [n] [n * 2]\nf: func [n] [(h n) + (h n + 1)]\nprint [f 1 f 2]\n"
     "h: func [n] [n - 1]\nprint f 3\nh: 5\nprint mold try [f 3]\n"
     "g: func [x] [if x = 3 [append first body-of :p [100]] x]\n"
     "p: func [x] [(g x)]\nprint [p 1 p 2 p 3 p 4]\n"
     "h: func [n] [n + zz]\nf 1\n",
     "zz has no value"),
    ("set_words_of_locals",
     # Set-words of the function's own words store in the running frame:
     # through recursion, with the function redefined while it runs, from a
     # loop's block, and from a function inside it (whose word is not its
     # own).
     "f: function [n] [a: 1 b: 0 if n = 3 [set 'f func [k] [k * 1000]] if n > 0 [b: f n - 1]"
     " a: a + b a]\ng: :f\nprint g 3 f: :g print g 4 f: :g print g 5\n"
     "s: function [n] [t: 0 repeat i n [t: t + i u: t * 2] u]\nprint [s 3 s 4]\n"
     "o: function [n] [a: n inner: func [k] [a: a + k] inner 1 inner 2 a]\n"
     "print [o 1 o 5]\nq: function [n] [a: n + zz]\nq 1 q 1\n",
     "zz has no value"),
    ("set_words_of_literals",
     # Set-words of literals into the frame, stored in a run with nothing
     # pushed: a word after the literal that turns into an operator, the
     # last statement's value, and the stack's end met where the
     # interpreter meets it.
     "o: 10\ng: function [n] [a: 1 b: 2 c: 3 o 4 reduce [a b c]]\n"
     "print mold g 1 print mold g 1\no: :+ print mold g 1\no: 10\n"
     "h: function [n] [a: 5 b: 6]\nprint [h 1 h 1]\n"
     "d: function [n] [a: 1 b: 2 either n = 0 [0] [d n - 1]]\nd 2 d 2\n"
     "locals: copy []\nrepeat i 40 [\n    w: func compose [/local (locals)] [d 100000]\n"
     "    e: try [w]\n    print [i e/id mold e/near]\n"
     "    append locals to word! rejoin [\"v\" i]\n]\n",
     "stack-overflow"),
    ("fast_natives_by_name",
     # Natives called by name that stand for a fast operation: integers in
     # place; floats, a sum that does not fit, a remainder by zero, a word
     # rebound by the user and an argument of the wrong type go through the
     # entry, or the interpreter, as before.
     "f: func [a b /local r] [r: copy [] append r add a b append r subtract a b"
     " append r multiply a b append r lesser? a b append r greater-or-equal? a b"
     " append r equal? a b append r remainder a b r]\nk: func [a b] [and~ a b]\n"
     "print mold f 7 3 print mold f 7 3 print mold f 2.5 3 print mold f 2147483647 2\n"
     "print [k 6 3 k 6 3 k true false]\n"
     "print mold try [f 7 0]\nsaved: :add\nadd: func [a b] [a * 100 + b]\nprint mold f 7 3\n"
     "add: :saved\nprint mold f 7 3\ng: func [n] [add n add n 1]\nprint [g 1 g 2]\n"
     "g \"a\"\n",
     "*** Where: add"),
    ("parse_parens",
     # Parse's actions run through their plans: a counter; a paren that
     # redefines a word it calls, and one that rewrites the rule holding it;
     # break from a paren inside a loop; an error raised in a paren (its
     # Near, and the frames the error's stack counts).
     "n: 0\nparse append/dup copy \"\" \"-ab\" 50 [any [thru \"ab\" (n: n + 1)]]\nprint n\n"
     "k: func [x] [x + 1]\nn: 0\nparse \"ababab\" [any [thru \"b\" (n: k n"
     " k: func [x] [x * 10])]]\nprint n\n"
     "r: [any [thru \"b\" (n: n + 1 if n = 3 [r/2/3: quote (n: n + 100)])]]\nn: 0\n"
     "parse \"abababab\" r print n\n"
     "n: 0 loop 3 [parse \"ababab\" [any [thru \"b\" (n: n + 1 if n = 4 [break])]]]\n"
     "print n\n"
     "direct: get in try [1 / 0] 'stack\n"
     "n: 2 print (get in try [parse \"aaa\" [any [skip (n: n - 1 1 / n)]]] 'stack) - direct\n"
     "n: 3 parse \"aaa\" [any [skip (n: n - 1 print 10 / n)]]\n",
     "*** Near : print 10 / n"),
    ("literal_lead_bodies",
     # A recursive body that gives its locals literals, then one expression
     # (a conditional, a native's call, a set-word): the probe after the
     # last literal finding an operator deep in the recursion, and an error
     # at the innermost call.
     "f: function [n] [a: 10 b: 20 either n < 2 [n] [a: f n - 1 b: f n - 2 a + b]]\n"
     "print [f 10 f 10]\np: func [x] [x]\n"
     "g: function [n] [a: 0 b: 1 p either n > 0 [if n = 1 [set (quote p) :+] g n - 1] [a + n]]\n"
     "print [g 2 g 2] p: func [x] [x] print g 3\n"
     "t: function [n] [a: 1 b: 2 add a + b either n > 0 [t n - 1] [n]]\nprint [t 3 t 3]\n"
     "u: function [n] [a: 5 b: either n > 0 [u n - 1] [a + 2]]\nprint [u 2 u 2]\n"
     "v: function [n] [a: 1 b: 2 c: 3 either n = 0 [1 + none] [v n - 1]]\nv 1\n",
     "*** Near : 1 + none"),
    ("literal_lead_deep_recursion",
     "k: function [n] [a: 0 b: 0 either n = 0 [0] [1 + k n - 1]]\nprint k 10 print k 20\n"
     "k 1000000\n",
     "stack overflow"),
    ("literal_lead_at_the_stack_end",
     # The literals stored with nothing pushed: reached with the stack at
     # its end, the body overflows where the interpreter's run does.
     "d: function [n] [a: 0 b: 0 either n = 0 [0] [d n - 1]]\nd 2 d 2\n"
     "locals: copy []\nrepeat i 40 [\n    w: func compose [/local (locals)] [d 100000]\n"
     "    e: try [w]\n    print [i e/id mold e/near]\n"
     "    append locals to word! rejoin [\"v\" i]\n]\n",
     "stack-overflow [a: 0 b: 0"),
    ("set_word_errors",
     "g: func [x /local y] [y: x * 2 y: y + x]\nprint [g 1 g 2]\n"
     "h: func [x] [y: x]\nh 1 h 2\nh ()\n",
     "*** Where:"),
]


def check_built(zuv):
    """The cases do run planned code: ZUV_PLAN_COUNTS reports builds."""
    failed = 0
    import subprocess
    import tempfile
    with tempfile.TemporaryDirectory(prefix="zuv-plans-") as tmp:
        for name, source, text in CASES:
            path = os.path.join(tmp, name + ".zuv")
            with open(path, "w", encoding="utf-8") as f:
                f.write("Zuv []\n" + source)
            env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C.UTF-8",
                   "ZUV_PLANS": "1", "ZUV_PLAN_COUNTS": "1"}
            p = subprocess.run([zuv, path], env=env, stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=plans_run.TIMEOUT, cwd=tmp)
            out = (p.stdout + p.stderr).decode("utf-8", "replace")
            m = re.search(r"plans: built (\d+)", out)
            if text not in out:
                failed += 1
                print("%s: the output lacks %r:\n%s" % (name, text, out[-2000:]))
            if m is None or int(m.group(1)) == 0:
                failed += 1
                print("%s: no plan was built" % name)
    return failed


if __name__ == "__main__":
    plans_run.main([(n, s) for n, s, _ in CASES], check_built)
