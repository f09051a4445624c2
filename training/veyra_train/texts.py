"""Conversational sentences from small grammars, with the places where a
speaker could stop mid-utterance.

Every sentence is a complete turn. An incomplete turn is the same sentence
stopped after a word that plainly asks for more: a conjunction, a
preposition, an article, a filler, or a comma that closes an opening clause or
a list item. The audio side cuts the synthesised whole sentence there, so the
fragment keeps mid-sentence prosody.
"""
import random
import re

# Words after which an utterance cannot end, per language.
CONTINUATION_WORDS = {
    "en": set("and but or so because if when while although since until that which who "
              "to with for from at in on of about into by the a an my your our their "
              "um uh like then also".split()),
    "es": set("y pero o porque si cuando mientras aunque que para con de en a por "
              "el la los las un una mi tu nuestro este eh pues entonces también".split()),
    "fr": set("et mais ou parce que si quand pendant bien pour avec de du des en à au "
              "le la les un une mon ton notre ce euh alors aussi donc".split()),
    "it": set("e ma o perché se quando mentre anche che per con di da in a su "
              "il lo la i gli le un una mio tuo nostro questo ehm allora poi quindi".split()),
    "ru": set("и но или потому если когда пока хотя что чтобы с в на к по о из для "
              "мой твой наш этот э ну тогда также потом".split()),
}
FILLERS = {"en": "um", "es": "eh", "fr": "euh", "it": "ehm", "ru": "э"}


def _pick(rng, items):
    return rng.choice(items)


# --- English -------------------------------------------------------------

EN = {
    "subject": ["I", "We", "My sister", "Our manager", "The driver", "My friend", "They",
                "The team", "My neighbour", "The doctor", "You", "Everyone", "Tom", "Sarah"],
    "past": ["finished the report", "called the bank", "booked the tickets", "fixed the heater",
             "sent the invoice", "cleaned the kitchen", "lost the keys", "missed the train",
             "found a new flat", "paid the bill", "changed the password", "read the contract",
             "moved the meeting", "ordered the parts", "forgot the charger", "met the new client"],
    "time": ["this morning", "last night", "yesterday", "on Monday", "an hour ago",
             "last week", "earlier today", "before lunch", "at the weekend", "just now"],
    "future": ["pick up the kids", "call you back", "send the files", "check the schedule",
               "book a table", "visit my parents", "finish the slides", "fix the printer",
               "talk to the landlord", "renew the insurance", "buy a new phone", "water the plants"],
    "place": ["the office", "the station", "the airport", "the hospital", "the supermarket",
              "the library", "the city centre", "the post office", "the dentist", "the gym"],
    "item": ["eggs", "milk", "bread", "butter", "apples", "coffee", "rice", "cheese", "tomatoes",
             "onions", "pasta", "orange juice", "batteries", "soap", "tea", "yoghurt"],
    "reason": ["the traffic was terrible", "it started raining", "the shop was closed",
               "nobody answered the phone", "I was feeling tired", "the system was down",
               "the train was late", "we ran out of time", "the price went up"],
    "question": ["Can you send me the report by Friday?", "What time does the meeting start?",
                 "Where did you park the car?", "Do you know if the shop is open?",
                 "How long will the repair take?", "Could you call me back later?",
                 "Is there anything else you need?", "Why did they cancel the flight?",
                 "Would you like some more coffee?", "Have you seen my glasses?",
                 "When are you coming home?", "Which one do you prefer?",
                 "Can I pay by card?", "Did you get my message?", "Are you free tomorrow?"],
    "answer": ["Yes.", "No.", "Sure, that works for me.", "I don't know.", "Not really.",
               "Yes, please.", "No, thank you.", "That sounds great.", "Maybe later.",
               "I think so.", "Absolutely.", "Fine, let's do that.", "Okay, thanks.",
               "Of course.", "Not at the moment.", "That's right."],
    "request": ["Please book a table for two at seven.", "Turn the music down a little.",
                "Send me the address when you can.", "Please close the window.",
                "Remind me to call the dentist tomorrow.", "Put the boxes in the garage.",
                "Let me know when you arrive.", "Please check the tyre pressure.",
                "Tell them I'll be ten minutes late."],
}


def _en_sentence(rng):
    s, t = _pick(rng, EN["subject"]), _pick(rng, EN["time"])
    kind = rng.randrange(11)
    if kind == 0:
        return f"{s} {_pick(rng, EN['past'])} {t}."
    if kind == 1:
        return f"{s} {_pick(rng, EN['past'])} {t}, and then we went to {_pick(rng, EN['place'])}."
    if kind == 2:
        return f"{s} {_pick(rng, EN['past'])} late because {_pick(rng, EN['reason'])}."
    if kind == 3:
        items = rng.sample(EN["item"], rng.randint(3, 5))
        return f"We need {', '.join(items[:-1])} and {items[-1]} from {_pick(rng, EN['place'])}."
    if kind == 4:
        return (f"I think we should, {FILLERS['en']}, {_pick(rng, EN['future'])} "
                f"before we go to {_pick(rng, EN['place'])}.")
    if kind == 5:
        return f"If you have time {t}, could you {_pick(rng, EN['future'])} for me?"
    if kind == 6:
        return f"When I got to {_pick(rng, EN['place'])}, {_pick(rng, EN['reason'])}."
    if kind == 7:
        return _pick(rng, EN["question"])
    if kind == 8:
        return _pick(rng, EN["answer"])
    if kind == 9:
        return _pick(rng, EN["request"])
    return (f"I was going to {_pick(rng, EN['future'])}, but {_pick(rng, EN['reason'])}, "
            f"so I will do it {_pick(rng, ['tomorrow', 'on Friday', 'next week', 'later'])}.")


# --- Spanish, French, Italian, Russian: smaller grammars ------------------

ES = {
    "s": ["", "Yo "],
    "past": ["terminé el informe", "llamé al banco", "compré los billetes", "pagué la factura",
             "limpié la cocina", "perdí las llaves", "cambié la contraseña", "leí el contrato"],
    "time": ["esta mañana", "anoche", "ayer", "el lunes", "hace una hora", "la semana pasada"],
    "place": ["la oficina", "la estación", "el aeropuerto", "el hospital", "el mercado", "la biblioteca"],
    "item": ["huevos", "leche", "pan", "mantequilla", "manzanas", "café", "arroz", "queso"],
    "reason": ["había mucho tráfico", "empezó a llover", "la tienda estaba cerrada",
               "nadie contestó el teléfono", "el tren llegó tarde"],
    "q": ["¿A qué hora empieza la reunión?", "¿Dónde dejaste el coche?", "¿Puedes llamarme más tarde?",
          "¿Quieres más café?", "¿Cuándo vuelves a casa?", "¿Puedo pagar con tarjeta?"],
    "a": ["Sí.", "No.", "Claro, perfecto.", "No lo sé.", "Sí, por favor.", "No, gracias.", "Vale, de acuerdo."],
}
FR = {
    "s": ["J'", "Moi, j'"],
    "past": ["ai fini le rapport", "ai appelé la banque", "ai acheté les billets", "ai payé la facture",
             "ai nettoyé la cuisine", "ai perdu les clés", "ai changé le mot de passe", "ai lu le contrat"],
    "time": ["ce matin", "hier soir", "hier", "lundi", "il y a une heure", "la semaine dernière"],
    "place": ["la gare", "la banque", "l'aéroport", "l'hôpital", "la poste", "la bibliothèque"],
    "item": ["des oeufs", "du lait", "du pain", "du beurre", "des pommes", "du café", "du riz", "du fromage"],
    "reason": ["il y avait beaucoup de circulation", "il a commencé à pleuvoir",
               "le magasin était fermé", "personne n'a répondu", "le train était en retard"],
    "q": ["À quelle heure commence la réunion?", "Où as-tu garé la voiture?", "Tu peux me rappeler plus tard?",
          "Tu veux encore du café?", "Quand est-ce que tu rentres?", "Je peux payer par carte?"],
    "a": ["Oui.", "Non.", "Bien sûr, parfait.", "Je ne sais pas.", "Oui, merci.", "Non, merci.", "D'accord."],
}
IT = {
    "s": ["", "Io "],
    "past": ["ho finito il rapporto", "ho chiamato la banca", "ho comprato i biglietti", "ho pagato la bolletta",
             "ho pulito la cucina", "ho perso le chiavi", "ho cambiato la password", "ho letto il contratto"],
    "time": ["stamattina", "ieri sera", "ieri", "lunedì", "un'ora fa", "la settimana scorsa"],
    "place": ["l'ufficio", "la stazione", "l'aeroporto", "l'ospedale", "il mercato", "la biblioteca"],
    "item": ["uova", "latte", "pane", "burro", "mele", "caffè", "riso", "formaggio"],
    "reason": ["c'era molto traffico", "ha cominciato a piovere", "il negozio era chiuso",
               "nessuno ha risposto", "il treno era in ritardo"],
    "q": ["A che ora comincia la riunione?", "Dove hai parcheggiato la macchina?", "Puoi richiamarmi più tardi?",
          "Vuoi ancora un caffè?", "Quando torni a casa?", "Posso pagare con la carta?"],
    "a": ["Sì.", "No.", "Certo, perfetto.", "Non lo so.", "Sì, grazie.", "No, grazie.", "Va bene."],
}
RU = {
    "s": ["Я ", "Я уже "],
    "past": ["закончил отчёт", "позвонил в банк", "купил билеты", "оплатил счёт",
             "убрал на кухне", "потерял ключи", "сменил пароль", "прочитал договор"],
    "time": ["сегодня утром", "вчера вечером", "вчера", "в понедельник", "час назад", "на прошлой неделе"],
    "place": ["в офис", "на вокзал", "в аэропорт", "в больницу", "на рынок", "в библиотеку"],
    "item": ["яйца", "молоко", "хлеб", "масло", "яблоки", "кофе", "рис", "сыр"],
    "reason": ["были большие пробки", "начался дождь", "магазин был закрыт",
               "никто не ответил", "поезд опоздал"],
    "q": ["Во сколько начинается встреча?", "Где ты оставил машину?", "Ты можешь перезвонить позже?",
          "Хочешь ещё кофе?", "Когда ты вернёшься домой?", "Можно заплатить картой?"],
    "a": ["Да.", "Нет.", "Конечно, отлично.", "Я не знаю.", "Да, пожалуйста.", "Нет, спасибо.", "Хорошо."],
}
# Connectives of the small grammars: "and then we went to", "late because",
# "we need", "I think we should", "when I got to".
_GLUE = {
    "es": ("y luego fuimos a", "tarde porque", "Necesitamos", "y", "Cuando llegué a", "de"),
    "fr": ("et ensuite nous sommes allés à", "en retard parce que", "Il nous faut", "et",
           "Quand je suis arrivé à", "de"),
    "it": ("e poi siamo andati a", "in ritardo perché", "Ci servono", "e", "Quando sono arrivato a", "da"),
    "ru": ("и потом мы пошли", "поздно, потому что", "Нам нужны", "и", "Когда я пришёл", "из"),
}
_SMALL = {"es": ES, "fr": FR, "it": IT, "ru": RU}


def _small_sentence(rng, language):
    g = _SMALL[language]
    then, because, need, and_, when, from_ = _GLUE[language]
    filler = FILLERS[language]
    # First person only: the verb phrases are conjugated for it.
    subject, p, t = _pick(rng, g["s"]), _pick(rng, g["past"]), _pick(rng, g["time"])
    kind = rng.randrange(8)
    if kind == 0:
        return f"{subject}{p} {t}."
    if kind == 1:
        return f"{subject}{p} {t}, {then} {_pick(rng, g['place'])}."
    if kind == 2:
        return f"{subject}{p} {because} {_pick(rng, g['reason'])}."
    if kind == 3:
        items = rng.sample(g["item"], rng.randint(3, 5))
        return f"{need} {', '.join(items[:-1])} {and_} {items[-1]}."
    if kind == 4:
        return f"{when} {_pick(rng, g['place'])}, {filler}, {_pick(rng, g['reason'])}."
    if kind == 5:
        return _pick(rng, g["q"])
    if kind == 6:
        return _pick(rng, g["a"])
    return f"{subject}{p}, {filler}, {t}."


def sentences(language: str, count: int, seed: int):
    """count distinct sentences (fewer if the grammar runs out), seeded."""
    rng = random.Random(f"{language}-{seed}")
    make = _en_sentence if language == "en" else (lambda r: _small_sentence(r, language))
    found, tries = [], 0
    seen = set()
    while len(found) < count and tries < count * 50:
        tries += 1
        text = make(rng)
        text = text[0].upper() + text[1:]
        if text not in seen:
            seen.add(text)
            found.append(text)
    return found


def _bare(word):
    return re.sub(r"[^\w']", "", word.lower())


def cut_points(text: str, language: str):
    """Word counts after which the sentence is plainly unfinished. The prefix
    keeps at least two words and at least two words follow it."""
    words = text.split()
    points = []
    for i in range(1, len(words) - 2):
        word = words[i]
        if _bare(word) in CONTINUATION_WORDS[language] or word.endswith(","):
            points.append(i + 1)
    return points


def prefix(text: str, word_count: int) -> str:
    return " ".join(text.split()[:word_count]).rstrip(",")
